// The walk against real directories: exact tallies, what is deleted and what
// is kept. No console is started, so the screen operations do nothing and
// no key can arrive.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sweep/sweep.h"

namespace fs = std::filesystem;

namespace {

// A fresh temporary directory, removed with everything in it afterwards.
class TempTree {
 public:
  TempTree() {
    std::string pattern = (fs::temp_directory_path() / "zarvelin-walk-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
  }
  ~TempTree() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  const fs::path& root() const { return root_; }

  // Entries ending in "/" are directories, "name -> target" symbolic links,
  // anything else an empty file; parents are made as needed.
  void make(const std::vector<std::string>& entries) const {
    for (const std::string& entry : entries) {
      const auto arrow = entry.find(" -> ");
      if (arrow != std::string::npos) {
        fs::create_directories((root_ / entry.substr(0, arrow)).parent_path());
        fs::create_symlink(entry.substr(arrow + 4), root_ / entry.substr(0, arrow));
      } else if (entry.ends_with('/')) {
        fs::create_directories(root_ / entry);
      } else {
        fs::create_directories((root_ / entry).parent_path());
        std::ofstream(root_ / entry).put('x');
      }
    }
  }
  bool exists(const std::string& entry) const {
    return fs::symlink_status(root_ / entry).type() != fs::file_type::not_found;
  }

 private:
  fs::path root_;
};

void reset_tallies() {
  sweep::COLF = sweep::COLD = sweep::COLT = sweep::OLDF = 0;
  sweep::ALLEX = false;
}

void walk(const TempTree& tree) {
  reset_tallies();
  sweep::FINDDEL(tree.root().string(), platform::OPEN_ROOT(tree.root().string()));
}

std::vector<std::string> numbered_files(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) names.push_back("file" + std::to_string(i));
  return names;
}

struct WalkCase {
  const char* label;
  std::vector<std::string> entries;
  std::int32_t files;        // COLF
  std::int32_t directories;  // COLD
  std::int32_t deleted;      // COLT
  std::int32_t last_tally;   // OLDF
  std::vector<std::string> gone;
  std::vector<std::string> kept;
};

class WalkTallies : public testing::TestWithParam<WalkCase> {};

TEST_P(WalkTallies, CountsEveryPassAndDeletesOnlyMatches) {
  const WalkCase& c = GetParam();
  TempTree tree;
  tree.make(c.entries);
  walk(tree);
  EXPECT_EQ(sweep::COLF, c.files);
  EXPECT_EQ(sweep::COLD, c.directories);
  EXPECT_EQ(sweep::COLT, c.deleted);
  EXPECT_EQ(sweep::OLDF, c.last_tally);
  EXPECT_FALSE(sweep::ALLEX);
  for (const std::string& entry : c.gone) EXPECT_FALSE(tree.exists(entry)) << entry;
  for (const std::string& entry : c.kept) EXPECT_TRUE(tree.exists(entry)) << entry;
}

// An empty directory and one that cannot be listed each cost one pass; the
// periodic tally line is written on the 11th pass, not the 10th.
INSTANTIATE_TEST_SUITE_P(
    Trees, WalkTallies,
    testing::Values(
        WalkCase{"empty_root", {}, 1, 0, 0, 0, {}, {}},
        WalkCase{"ten_files", numbered_files(10), 10, 0, 0, 0, {}, {"file9"}},
        WalkCase{"eleven_files", numbered_files(11), 11, 0, 0, 11, {}, {"file10"}},
        WalkCase{"twenty_two_files", numbered_files(22), 22, 0, 0, 22, {}, {}},
        WalkCase{"nested",
                 {"a/", "b/thumbs.db", "THUMBS.DB", "x.txt"},
                 6, 2, 2, 0,
                 {"b/thumbs.db", "THUMBS.DB"},
                 {"a", "b", "x.txt"}},
        WalkCase{"case_variants_and_decoys",
                 {"THUMBS.DB", "thumbs.db", "Thumbs.Db", "THUMBS.DB.BAK", "XTHUMBS.DB",
                  "thumbs.dbx", ".hidden/thumbs.db", "deep/er/still/tHuMbS.dB"},
                 12, 4, 5, 11,
                 {"THUMBS.DB", "thumbs.db", "Thumbs.Db", ".hidden/thumbs.db",
                  "deep/er/still/tHuMbS.dB"},
                 {"THUMBS.DB.BAK", "XTHUMBS.DB", "thumbs.dbx", ".hidden", "deep/er/still"}},
        WalkCase{"accented_letters_are_not_folded",
                 {"thümbs.db", "THÜMBS.DB"}, 2, 0, 0, 0, {}, {"thümbs.db", "THÜMBS.DB"}},
        WalkCase{"link_loops_are_not_entered",
                 {"self -> .", "up/loop -> ..", "up/thumbs.db"},
                 4, 1, 1, 0,
                 {"up/thumbs.db"},
                 {"self", "up/loop"}}),
    [](const testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.label); });

TEST(Walk, LinkNamedThumbsIsRemovedAsLinkAndItsTargetKept) {
  TempTree outside;
  outside.make({"THUMBS.DB", "dir/"});
  TempTree tree;
  tree.make({"thumbs.db -> " + (outside.root() / "THUMBS.DB").string(),
             "Thumbs.db -> " + (outside.root() / "dir").string(),
             "out -> " + outside.root().string()});
  walk(tree);
  EXPECT_EQ(sweep::COLT, 2);
  EXPECT_EQ(sweep::COLD, 0);
  EXPECT_FALSE(tree.exists("thumbs.db"));
  EXPECT_FALSE(tree.exists("Thumbs.db"));
  EXPECT_TRUE(outside.exists("THUMBS.DB"));
  EXPECT_TRUE(outside.exists("dir"));
}

TEST(Walk, RelativeRootIsResolvedAgainstTheCurrentDirectory) {
  TempTree tree;
  tree.make({"sub/deeper/thumbs.db", "sub/deeper/keep"});
  const fs::path before = fs::current_path();
  fs::current_path(tree.root());
  reset_tallies();
  sweep::FINDDEL(platform::FULL_ROOT("sub"), platform::OPEN_ROOT("sub"));
  fs::current_path(before);
  EXPECT_EQ(sweep::COLD, 1);
  EXPECT_EQ(sweep::COLT, 1);
  EXPECT_FALSE(tree.exists("sub/deeper/thumbs.db"));
  EXPECT_TRUE(tree.exists("sub/deeper/keep"));
}

TEST(Walk, DeepTreeIsWalkedToTheBottom) {
  TempTree tree;
  // Paths far past the system's path length limit: each level is reached
  // from the one above it, never by its full path.
  constexpr int kLevels = 3000;
  const std::string level(10, 'd');
  fs::path deepest = tree.root();
  int fd = open(tree.root().c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < kLevels; ++i) {
    ASSERT_EQ(mkdirat(fd, level.c_str(), 0755), 0);
    const int next = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  const int file = openat(fd, "Thumbs.db", O_CREAT | O_WRONLY, 0644);
  close(file);
  walk(tree);
  EXPECT_EQ(sweep::COLD, kLevels);
  EXPECT_EQ(sweep::COLF, kLevels + 1);
  EXPECT_EQ(sweep::COLT, 1);
  EXPECT_EQ(faccessat(fd, "Thumbs.db", F_OK, AT_SYMLINK_NOFOLLOW), -1);
  close(fd);
  // Clean up from the bottom: the paths are too long for one call.
  std::string remove_command = "rm -rf '" + tree.root().string() + "'";
  EXPECT_EQ(std::system(remove_command.c_str()), 0);
}

TEST(UpperCase, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(sweep::UPSTR("thumbs.db"), "THUMBS.DB");
  EXPECT_EQ(sweep::UPSTR("Az09_-.{}`@[~"), "AZ09_-.{}`@[~");
  EXPECT_EQ(sweep::UPSTR("\xc3\xbc\xe9\xff"), "\xc3\xbc\xe9\xff");
  EXPECT_EQ(sweep::UPSTR(std::string("a\0b", 3)), std::string("A\0B", 3));
  EXPECT_EQ(sweep::UPSTR(""), "");
}

using WalkDeathTest = testing::Test;

TEST(WalkDeathTest, DirectoryNamedThumbsStopsWithTwoAfterItIsWalked) {
  TempTree tree;
  tree.make({"THUMBS.DB/inner/thumbs.db"});
  EXPECT_EXIT(walk(tree), testing::ExitedWithCode(2), "");
  // The walk entered it and erased the file inside before the stop.
  EXPECT_FALSE(tree.exists("THUMBS.DB/inner/thumbs.db"));
}

TEST(WalkDeathTest, TallyOverflowStopsWith215) {
  TempTree tree;
  tree.make({"one"});
  EXPECT_EXIT(
      {
        reset_tallies();
        sweep::COLF = INT32_MAX;
        sweep::OLDF = INT32_MAX - 20;
        sweep::FINDDEL(tree.root().string(), platform::OPEN_ROOT(tree.root().string()));
      },
      testing::ExitedWithCode(215), "");
}

}  // namespace
