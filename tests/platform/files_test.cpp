// Listings, probes, erases, roots and directory changes against real
// temporary directories.
#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "case_name.h"
#include "platform/levels_posix.h"
#include "test_tree.h"

namespace {

using test_support::case_name;
using test_support::TempDir;

struct Listed {
  std::int16_t first_status = 0;
  std::string first_name;
  std::vector<std::string> names;  // sorted
};

Listed list_all(platform::Dir dir) {
  Listed listed;
  platform::Searchrec F;
  platform::FINDFIRST(std::move(dir), F);
  listed.first_status = platform::DOSERROR;
  listed.first_name = F.NAME;
  while (platform::DOSERROR == 0) {
    listed.names.push_back(F.NAME);
    platform::FINDNEXT(F);
  }
  std::sort(listed.names.begin(), listed.names.end());
  return listed;
}

// Lists dir until its entry name and hands use the record on it.
template <typename Use>
void at_entry(platform::Dir dir, const std::string& name, Use use) {
  platform::Searchrec F;
  platform::FINDFIRST(std::move(dir), F);
  while (platform::DOSERROR == 0 && F.NAME != name) platform::FINDNEXT(F);
  if (platform::DOSERROR != 0) throw std::runtime_error("no entry " + name);
  use(F);
}

template <typename Use>
void at_entry(const std::string& dir_path, const std::string& name, Use use) {
  at_entry(platform::OPEN_ROOT(dir_path), name, use);
}

struct Probed {
  bool entered = false;
  std::uint16_t number = 0;
};

Probed probe(platform::Dir dir, const std::string& name) {
  Probed probed;
  at_entry(std::move(dir), name, [&](const platform::Searchrec& F) {
    probed.entered = platform::PROBE(F).valid();
    probed.number = platform::IORESULT();
  });
  return probed;
}

Probed probe(const std::string& dir_path, const std::string& name) {
  return probe(platform::OPEN_ROOT(dir_path), name);
}

std::string describe(const Probed& probed) {
  return "entered=" + std::to_string(probed.entered) + " number=" + std::to_string(probed.number);
}

std::uint16_t erase(const std::string& dir_path, const std::string& name) {
  at_entry(dir_path, name, [](const platform::Searchrec& F) {
    platform::File FF;
    platform::ASSIGN(FF, F);
    platform::ERASE(FF);
  });
  return platform::IORESULT();
}

// What a walk of the layer alone sees: every entry listed, every directory
// entered, every THUMBS.DB erased.
struct Walked {
  int entries = 0;
  int directories = 0;
  int erased = 0;
  std::size_t most_open_levels = 0;
};

bool is_thumbs_db(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; });
  return name == "THUMBS.DB";
}

void walk(platform::Dir dir, Walked& walked) {
  platform::Searchrec F;
  platform::FINDFIRST(std::move(dir), F);
  for (; platform::DOSERROR == 0; platform::FINDNEXT(F)) {
    ++walked.entries;
    platform::Dir entered = platform::PROBE(F);
    walked.most_open_levels = std::max(walked.most_open_levels, platform::Level::open_count());
    if (platform::IORESULT() == 0) {
      ++walked.directories;
      walk(std::move(entered), walked);
    }
    if (is_thumbs_db(F.NAME)) {
      platform::File FF;
      platform::ASSIGN(FF, F);
      platform::ERASE(FF);
      if (platform::IORESULT() == 0) ++walked.erased;
    }
  }
}

std::size_t open_descriptors() {
  const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// Every test starts with no pending error and ends in the directory it
// started in.
class FilesTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::INOUTRES = 0;
    start_directory_ = std::filesystem::current_path().string();
  }
  void TearDown() override {
    std::filesystem::current_path(start_directory_);
    platform::INOUTRES = 0;
  }

  TempDir tree_;

 private:
  std::string start_directory_;
};

// ---- Listing ------------------------------------------------------------

struct ListingCase {
  const char* label;
  std::vector<std::string> entries;
  std::int16_t first_status;
  std::vector<std::string> names;
};

const ListingCase kListingCases[] = {
    {"empty directory fails with 18", {}, 18, {}},
    {"hidden entries but no dots",
     {".hidden", "...", "..x", "a"},
     0,
     {"...", "..x", ".hidden", "a"}},
    {"every kind of entry", {"d/", "f", "l -> f", "p|", "s="}, 0, {"d", "f", "l", "p", "s"}},
};

class ListingTest : public FilesTest, public testing::WithParamInterface<ListingCase> {};

TEST_P(ListingTest, DeliversEveryEntryOnce) {
  for (const std::string& entry : GetParam().entries) tree_.make({entry});
  const Listed listed = list_all(platform::OPEN_ROOT(tree_.path()));
  EXPECT_EQ(listed.first_status, GetParam().first_status);
  EXPECT_EQ(listed.names, GetParam().names);
  EXPECT_FALSE(listed.first_name.empty());
}

INSTANTIATE_TEST_SUITE_P(Trees, ListingTest, testing::ValuesIn(kListingCases),
                         case_name<ListingCase>);

TEST_F(FilesTest, ListingSpanningManyBatchesDeliversEveryEntry) {
  std::vector<std::string> expected;
  for (int i = 0; i < 3000; ++i) {
    expected.push_back(std::string(200, 'n') + std::to_string(i));
    tree_.make({expected.back()});
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(list_all(platform::OPEN_ROOT(tree_.path())).names, expected);
}

TEST_F(FilesTest, ExhaustedListingKeepsFailingAndKeepsTheName) {
  tree_.make({"only"});
  platform::Searchrec F;
  platform::FINDFIRST(platform::OPEN_ROOT(tree_.path()), F);
  ASSERT_EQ(platform::DOSERROR, 0);
  for (int call = 0; call < 3; ++call) {
    platform::FINDNEXT(F);
    EXPECT_EQ(platform::DOSERROR, 18);
    EXPECT_EQ(F.NAME, "only");
  }
}

// A listing that could not be begun names "*.*"; such an entry may exist
// here, but the record must never reach it.
TEST_F(FilesTest, FailedListingNamesNothingAndTouchesNothing) {
  tree_.make({"*.*/", "*.*/thumbs.db"});
  std::filesystem::current_path(tree_.path());
  platform::Searchrec F;
  platform::FINDFIRST(platform::Dir(), F);
  EXPECT_EQ(platform::DOSERROR, 3);
  EXPECT_EQ(F.NAME, "*.*");
  EXPECT_FALSE(platform::PROBE(F).valid());
  EXPECT_EQ(platform::IORESULT(), 3);
  platform::File FF;
  platform::ASSIGN(FF, F);
  platform::ERASE(FF);
  EXPECT_EQ(platform::IORESULT(), 2);
  platform::FINDNEXT(F);
  EXPECT_EQ(platform::DOSERROR, 18);
  EXPECT_EQ(F.NAME, "*.*");
  EXPECT_TRUE(tree_.exists("*.*/thumbs.db"));
}

TEST_F(FilesTest, ListingIsClosedWithItsRecord) {
  tree_.make({"a", "b"});
  const std::size_t before = open_descriptors();
  {
    platform::Searchrec F;
    platform::FINDFIRST(platform::OPEN_ROOT(tree_.path()), F);
    EXPECT_EQ(open_descriptors(), before + 1);
  }
  EXPECT_EQ(open_descriptors(), before);
}

// ---- Probe --------------------------------------------------------------

struct ProbeCase {
  const char* label;
  std::vector<std::string> entries;
  const char* name;
  bool entered;
  std::uint16_t number;
};

const ProbeCase kProbeCases[] = {
    {"directory", {"sub/"}, "sub", true, 0},
    {"directory named THUMBS.DB", {"THUMBS.DB/"}, "THUMBS.DB", true, 0},
    {"file", {"f"}, "f", false, 267},
    {"link to a directory is not entered", {"sub/", "l -> sub"}, "l", false, 267},
    {"link to a file", {"f", "l -> f"}, "l", false, 267},
    {"dangling link", {"l -> nowhere"}, "l", false, 267},
    {"link to itself", {"l -> l"}, "l", false, 267},
    {"fifo is never opened", {"p|"}, "p", false, 267},
    {"socket", {"s="}, "s", false, 267},
};

class ProbeTest : public FilesTest, public testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeTest, EntersOnlyRealDirectories) {
  for (const std::string& entry : GetParam().entries) tree_.make({entry});
  const Probed probed = probe(tree_.path(), GetParam().name);
  EXPECT_EQ(probed.entered, GetParam().entered);
  EXPECT_EQ(probed.number, GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(Entries, ProbeTest, testing::ValuesIn(kProbeCases), case_name<ProbeCase>);

TEST_F(FilesTest, ProbeDoesNothingWhileAnErrorIsPending) {
  tree_.make({"sub/"});
  at_entry(tree_.path(), "sub", [](const platform::Searchrec& F) {
    platform::INOUTRES = 5;
    EXPECT_FALSE(platform::PROBE(F).valid());
    EXPECT_EQ(platform::IORESULT(), 5);
  });
}

TEST_F(FilesTest, EnteredDirectoryListsItsOwnEntries) {
  tree_.make({"sub/", "sub/inner", "outer"});
  at_entry(tree_.path(), "sub", [](const platform::Searchrec& F) {
    EXPECT_EQ(list_all(platform::PROBE(F)).names, std::vector<std::string>{"inner"});
  });
}

// ---- Erase --------------------------------------------------------------

struct EraseCase {
  const char* label;
  std::vector<std::string> entries;
  const char* name;
  std::uint16_t number;
  bool gone;
  const char* kept;  // an entry that must survive, or ""
};

const EraseCase kEraseCases[] = {
    {"file", {"thumbs.db"}, "thumbs.db", 0, true, ""},
    {"hidden-style name", {"Thumbs.Db"}, "Thumbs.Db", 0, true, ""},
    {"link goes, its target stays",
     {"target", "THUMBS.DB -> target"},
     "THUMBS.DB",
     0,
     true,
     "target"},
    {"link to a directory goes alone",
     {"t/", "t/x", "thumbs.db -> t"},
     "thumbs.db",
     0,
     true,
     "t/x"},
    {"directory named THUMBS.DB fails with 2", {"THUMBS.DB/"}, "THUMBS.DB", 2, false, ""},
    {"fifo goes without being opened", {"thumbs.db|"}, "thumbs.db", 0, true, ""},
    {"socket goes", {"thumbs.db="}, "thumbs.db", 0, true, ""},
};

class EraseTest : public FilesTest, public testing::WithParamInterface<EraseCase> {};

TEST_P(EraseTest, RemovesTheEntryItself) {
  for (const std::string& entry : GetParam().entries) tree_.make({entry});
  EXPECT_EQ(erase(tree_.path(), GetParam().name), GetParam().number);
  EXPECT_EQ(tree_.exists(GetParam().name), !GetParam().gone);
  if (*GetParam().kept != '\0') {
    EXPECT_TRUE(tree_.exists(GetParam().kept));
  }
}

INSTANTIATE_TEST_SUITE_P(Entries, EraseTest, testing::ValuesIn(kEraseCases), case_name<EraseCase>);

TEST_F(FilesTest, EraseDoesNothingWhileAnErrorIsPending) {
  tree_.make({"thumbs.db"});
  at_entry(tree_.path(), "thumbs.db", [](const platform::Searchrec& F) {
    platform::File FF;
    platform::ASSIGN(FF, F);
    platform::INOUTRES = 150;
    platform::ERASE(FF);
  });
  EXPECT_EQ(platform::IORESULT(), 150);
  EXPECT_TRUE(tree_.exists("thumbs.db"));
}

TEST_F(FilesTest, EraseOfAFileGoneSinceTheListingFailsWith2) {
  tree_.make({"thumbs.db"});
  at_entry(tree_.path(), "thumbs.db", [&](const platform::Searchrec& F) {
    std::filesystem::remove(tree_.at("thumbs.db"));
    platform::File FF;
    platform::ASSIGN(FF, F);
    platform::ERASE(FF);
  });
  EXPECT_EQ(platform::IORESULT(), 2);
}

// ---- Walks --------------------------------------------------------------

TEST_F(FilesTest, LinkLoopsAreNotFollowed) {
  tree_.make({"a/", "a/up -> ..", "a/self -> .", "a/thumbs.db"});
  Walked walked;
  walk(platform::OPEN_ROOT(tree_.path()), walked);
  EXPECT_EQ(walked.directories, 1);
  EXPECT_EQ(walked.entries, 4);
  EXPECT_EQ(walked.erased, 1);
}

TEST_F(FilesTest, LinkOutOfTheTreeLeadsToNoDeletion) {
  TempDir outside;
  outside.make({"thumbs.db", "sub/", "sub/THUMBS.DB"});
  tree_.make({"out -> " + outside.path(), "in/", "in/sub -> " + outside.at("sub")});
  Walked walked;
  walk(platform::OPEN_ROOT(tree_.path()), walked);
  EXPECT_EQ(walked.directories, 1);
  EXPECT_TRUE(outside.exists("thumbs.db"));
  EXPECT_TRUE(outside.exists("sub/THUMBS.DB"));
}

TEST_F(FilesTest, ThreeThousandLevelsWalkCompletelyAndCloseEveryListing) {
  constexpr int kLevels = 3000;
  ASSERT_TRUE(test_support::allow_descriptors(kLevels + 100));
  test_support::make_deep_chain(tree_.path(), kLevels, "thumbs.db");
  const std::size_t before = open_descriptors();
  Walked walked;
  walk(platform::OPEN_ROOT(tree_.path()), walked);
  EXPECT_EQ(walked.directories, kLevels);
  EXPECT_EQ(walked.entries, kLevels + 1);
  EXPECT_EQ(walked.erased, 1);
  EXPECT_EQ(open_descriptors(), before);
}

TEST_F(FilesTest, RootsAndDirectoryChangesPastPathMax) {
  constexpr int kLevels = 2500;
  test_support::make_deep_chain(tree_.path(), kLevels, "leaf");
  std::string deep = tree_.path();
  for (int level = 0; level < kLevels; ++level) deep += "/d";
  ASSERT_GT(deep.size(), static_cast<std::size_t>(PATH_MAX));
  EXPECT_EQ(list_all(platform::OPEN_ROOT(deep)).names, std::vector<std::string>{"leaf"});
  platform::CHDIR(deep);
  EXPECT_EQ(platform::IORESULT(), 0);
  EXPECT_EQ(platform::GETDIR(), deep);
}

// ---- Descriptors kept within the limit ----------------------------------

// Runs body in a child whose descriptor limit is `limit`, so the walk's
// levels must be closed and opened again.
std::string with_descriptor_limit(rlim_t limit, const std::function<std::string()>& body) {
  return test_support::run_in_child(
      [&] {
        const rlimit lowered{limit, limit};
        if (setrlimit(RLIMIT_NOFILE, &lowered) != 0) return std::string("setrlimit failed");
        return body();
      },
      false);
}

std::string describe(const Walked& walked) {
  return "entries=" + std::to_string(walked.entries) +
         " directories=" + std::to_string(walked.directories) +
         " erased=" + std::to_string(walked.erased) +
         " within=" + std::to_string(walked.most_open_levels <= platform::Level::budget());
}

TEST_F(FilesTest, DeepTreeUnderALowDescriptorLimitIsWalkedToTheBottom) {
  constexpr int kLevels = 400;
  test_support::make_deep_chain(tree_.path(), kLevels, "THUMBS.DB");
  const std::string seen = with_descriptor_limit(40, [&] {
    Walked walked;
    walk(platform::OPEN_ROOT(tree_.path()), walked);
    return describe(walked) + " left=" + std::to_string(platform::Level::open_count());
  });
  EXPECT_EQ(seen, "entries=401 directories=400 erased=1 within=1 left=0");
}

// The wide directory is closed while the chains below it are walked; its
// listing goes on where it stopped, in the middle of a batch of entries.
TEST_F(FilesTest, ClosedListingResumesWhereItStopped) {
  constexpr int kFiles = 3000;
  constexpr int kChains = 4;
  constexpr int kChainLevels = 40;
  tree_.make({"wide/"});
  for (int i = 0; i < kFiles; ++i)
    tree_.make({"wide/" + std::string(100, 'f') + std::to_string(i)});
  for (int chain = 0; chain < kChains; ++chain) {
    const std::string top = "wide/chain" + std::to_string(chain);
    tree_.make({top + "/", top + "/thumbs.db"});
    test_support::make_deep_chain(tree_.at(top), kChainLevels, "Thumbs.db");
  }
  const std::string seen = with_descriptor_limit(30, [&] {
    Walked walked;
    walk(platform::OPEN_ROOT(tree_.path()), walked);
    return describe(walked);
  });
  const int directories = 1 + kChains * (1 + kChainLevels);
  const int entries = directories + kFiles + 2 * kChains;
  EXPECT_EQ(seen, "entries=" + std::to_string(entries) +
                      " directories=" + std::to_string(directories) +
                      " erased=" + std::to_string(2 * kChains) + " within=1");
}

// A closed level is opened again by its name only when the name still leads
// to the same directory: never through a link, never into a stand-in.
struct ReplacedLevelCase {
  const char* label;
  const char* replacement;  // what "a" becomes once the original is moved away; "" for none
  const char* expected;
};

const ReplacedLevelCase kReplacedLevels[] = {
    {"nothing: opened again, listing goes on", "", "next=end erase=2"},
    {"another directory", "a/", "next=failed erase=3"},
    {"a link to the original", "a -> moved", "next=failed erase=3"},
    {"a link to elsewhere", "a -> /", "next=failed erase=3"},
    {"a file", "a", "next=failed erase=3"},
};

class ReplacedLevelTest : public FilesTest,
                          public testing::WithParamInterface<ReplacedLevelCase> {};

std::string listing_status() {
  if (platform::DOSERROR == 0) return "entry";
  return platform::DOSERROR == 18 ? "end" : "failed";
}

// a holds only b; while c is entered (b's listing and c still open) there is
// no room left for a, which is closed, then moved away and replaced. Going
// on with a's listing and erasing in it must reach a itself or nothing.
TEST_P(ReplacedLevelTest, IsOpenedAgainOnlyWhenItIsTheSameDirectory) {
  tree_.make({"a/", "a/b/", "a/b/c/", "a/b/c/thumbs.db"});
  const std::string replacement = GetParam().replacement;
  const std::string seen = with_descriptor_limit(19, [&] {
    std::string text;
    at_entry(tree_.path(), "a", [&](const platform::Searchrec& a_entry) {
      platform::Searchrec in_a;
      platform::FINDFIRST(platform::PROBE(a_entry), in_a);
      at_entry(platform::PROBE(in_a), "c", [&](const platform::Searchrec& c_entry) {
        const platform::Dir c = platform::PROBE(c_entry);
        if (platform::Level::budget() != 3 || platform::Level::open_count() != 3) {
          text = "not at the limit ";
        }
        if (!replacement.empty()) {
          std::filesystem::rename(tree_.at("a"), tree_.at("moved"));
          tree_.make({replacement});
        }
        platform::FINDNEXT(in_a);
        text += "next=" + listing_status();
        platform::File FF;
        platform::ASSIGN(FF, in_a);
        platform::ERASE(FF);
        text += " erase=" + std::to_string(platform::IORESULT());
      });
    });
    return text;
  });
  EXPECT_EQ(seen, GetParam().expected);
  const std::string original = replacement.empty() ? "a" : "moved";
  EXPECT_TRUE(tree_.exists(original + "/b/c/thumbs.db"));
}

INSTANTIATE_TEST_SUITE_P(Replacements, ReplacedLevelTest, testing::ValuesIn(kReplacedLevels),
                         case_name<ReplacedLevelCase>);

// ---- Roots --------------------------------------------------------------

TEST_F(FilesTest, RelativeRootIsResolvedAgainstTheCurrentDirectory) {
  tree_.make({"sub/", "sub/x"});
  std::filesystem::current_path(tree_.path());
  EXPECT_EQ(platform::FULL_ROOT("sub"), platform::GETDIR() + "/sub");
  EXPECT_EQ(platform::FULL_ROOT("/abs/path"), "/abs/path");
  EXPECT_EQ(list_all(platform::OPEN_ROOT("sub")).names, std::vector<std::string>{"x"});
}

TEST_F(FilesTest, LinksInTheRootPathAreFollowed) {
  tree_.make({"real/", "real/x", "link -> real"});
  EXPECT_EQ(list_all(platform::OPEN_ROOT(tree_.at("link"))).names, std::vector<std::string>{"x"});
}

struct RefusedRootCase {
  const char* label;
  std::string path;
};

const RefusedRootCase kRefusedRoots[] = {
    {"empty path", ""},
    {"missing directory", "/nonexistent-zarvelin-root"},
    {"a file (this test program)", "/proc/self/exe"},
    {"proc", "/proc"},
    {"sysfs", "/sys"},
};

class RefusedRootTest : public FilesTest, public testing::WithParamInterface<RefusedRootCase> {};

TEST_P(RefusedRootTest, IsNotEnteredAndRaisesNothing) {
  EXPECT_FALSE(platform::OPEN_ROOT(GetParam().path).valid());
  EXPECT_FALSE(platform::OPEN_DRIVE_ROOT(GetParam().path).valid());
  EXPECT_EQ(platform::INOUTRES, 0);
}

INSTANTIATE_TEST_SUITE_P(Roots, RefusedRootTest, testing::ValuesIn(kRefusedRoots),
                         case_name<RefusedRootCase>);

TEST_F(FilesTest, DriveRootsAreSortedFileSystemsThatHoldFiles) {
  const std::vector<std::string> roots = platform::DRIVE_ROOTS();
  EXPECT_TRUE(std::is_sorted(roots.begin(), roots.end()));
  EXPECT_EQ(std::adjacent_find(roots.begin(), roots.end()), roots.end());
  EXPECT_NE(std::find(roots.begin(), roots.end(), "/"), roots.end());
  for (const char* pseudo : {"/proc", "/sys", "/dev/pts"}) {
    EXPECT_EQ(std::find(roots.begin(), roots.end(), pseudo), roots.end()) << pseudo;
  }
}

TEST_F(FilesTest, ProcIsNeverEnteredFromTheSystemRoot) {
  EXPECT_EQ(describe(probe("/", "proc")), "entered=0 number=5");
  EXPECT_EQ(describe(probe(platform::OPEN_DRIVE_ROOT("/"), "proc")), "entered=0 number=5");
}

// ---- Directory changes --------------------------------------------------

struct ChdirCase {
  const char* label;
  const char* relative;
  std::uint16_t number;
};

const ChdirCase kChdirCases[] = {
    {"directory", "sub", 0},
    {"missing directory gives 3", "missing", 3},
    {"a file gives 267", "file", 267},
    {"a path through a file gives 3", "file/sub", 3},
};

class ChdirTest : public FilesTest, public testing::WithParamInterface<ChdirCase> {};

TEST_P(ChdirTest, StoresTheNumber) {
  tree_.make({"sub/", "file"});
  const std::string target = tree_.at(GetParam().relative);
  platform::CHDIR(target);
  EXPECT_EQ(platform::IORESULT(), GetParam().number);
  EXPECT_EQ(platform::GETDIR() == target, GetParam().number == 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, ChdirTest, testing::ValuesIn(kChdirCases), case_name<ChdirCase>);

TEST_F(FilesTest, ChdirDoesNothingForAnEmptyPathOrAPendingError) {
  tree_.make({"sub/"});
  const std::string before = platform::GETDIR();
  platform::CHDIR("");
  EXPECT_EQ(platform::IORESULT(), 0);
  platform::INOUTRES = 5;
  platform::CHDIR(tree_.at("sub"));
  EXPECT_EQ(platform::IORESULT(), 5);
  EXPECT_EQ(platform::GETDIR(), before);
}

// ---- Permissions (as an unprivileged user in a child) -------------------

TEST_F(FilesTest, SearchOnlyDirectoryIsEnteredButItsListingFailsWith5) {
  tree_.make({"so/", "so/*.*"});
  chmod(tree_.at("so").c_str(), 0111);
  const std::string seen = test_support::run_in_child(
      [&] {
        std::string text;
        at_entry(tree_.path(), "so", [&](const platform::Searchrec& entry) {
          platform::Dir so = platform::PROBE(entry);
          text = "entered=" + std::to_string(so.valid()) + " error=" + std::to_string(so.error());
          platform::Searchrec F;
          platform::FINDFIRST(std::move(so), F);
          text += " first=" + std::to_string(platform::DOSERROR) + " name=" + F.NAME;
          text += " probe=" + std::to_string(platform::PROBE(F).valid());
          text += "/" + std::to_string(platform::IORESULT());
          platform::File FF;
          platform::ASSIGN(FF, F);
          platform::ERASE(FF);
          text += " erase=" + std::to_string(platform::IORESULT());
        });
        text += " root=" + std::to_string(platform::OPEN_ROOT(tree_.at("so")).error());
        return text;
      },
      true);
  EXPECT_EQ(seen, "entered=1 error=5 first=5 name=*.* probe=0/3 erase=2 root=5");
  EXPECT_TRUE(tree_.exists("so/*.*"));
}

struct PermissionCase {
  const char* label;
  mode_t mode;
  const char* entry;  // probed inside the directory "p" or, when "", "p" itself
  const char* expected;
};

const PermissionCase kPermissionCases[] = {
    {"no rights at all: refused with 5", 0000, "", "entered=0 number=5"},
    {"read without search: children refused", 0444, "sub", "entered=0 number=5"},
    {"read-only directory keeps its THUMBS.DB", 0555, "erase", "erase=5"},
};

class PermissionTest : public FilesTest, public testing::WithParamInterface<PermissionCase> {};

TEST_P(PermissionTest, ReportsTheRefusal) {
  tree_.make({"p/", "p/sub/", "p/thumbs.db"});
  chmod(tree_.at("p").c_str(), GetParam().mode);
  const std::string entry = GetParam().entry;
  const std::string seen = test_support::run_in_child(
      [&] {
        if (entry.empty()) return describe(probe(tree_.path(), "p"));
        if (entry == "erase") return "erase=" + std::to_string(erase(tree_.at("p"), "thumbs.db"));
        return describe(probe(tree_.at("p"), entry));
      },
      true);
  EXPECT_EQ(seen, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, PermissionTest, testing::ValuesIn(kPermissionCases),
                         case_name<PermissionCase>);

// ---- Mounted file systems (in a private mount namespace) ----------------

TEST_F(FilesTest, MountsAreCrossedOnlyBelowANamedRootAndPseudoOnesNever) {
  tree_.make({"tmpfs/", "proc/", "bound/", "source/"});
  const std::string seen = test_support::run_in_child(
      [&] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
          return std::string("no mount namespace");
        }
        mount("tmpfs", tree_.at("tmpfs").c_str(), "tmpfs", 0, "size=64k");
        mount("proc", tree_.at("proc").c_str(), "proc", 0, nullptr);
        mount(tree_.at("source").c_str(), tree_.at("bound").c_str(), nullptr, MS_BIND, nullptr);
        std::string text;
        for (const char* name : {"tmpfs", "proc", "bound", "source"}) {
          text += std::string(name) + ":" + std::to_string(probe(tree_.path(), name).entered) +
                  std::to_string(probe(platform::OPEN_DRIVE_ROOT(tree_.path()), name).entered) +
                  " ";
        }
        const std::vector<std::string> roots = platform::DRIVE_ROOTS();
        for (const char* name : {"tmpfs", "proc"}) {
          text += std::to_string(std::count(roots.begin(), roots.end(), tree_.at(name)));
        }
        return text;
      },
      false);
  if (seen == "no mount namespace") GTEST_SKIP() << "mount namespaces are not available here";
  EXPECT_EQ(seen, "tmpfs:10 proc:00 bound:10 source:11 10");
}

}  // namespace
