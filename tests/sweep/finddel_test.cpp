// The walk against real directories: exact tallies, what is deleted and what
// is kept. No console is started, so the screen operations do nothing and
// no key can arrive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "case_name.h"
#include "sweep/sweep.h"
#include "test_tree.h"

namespace {

using test_support::TempDir;

void reset_tallies() {
  sweep::COLF = sweep::COLD = sweep::COLT = sweep::OLDF = 0;
  sweep::ALLEX = false;
}

void walk(const TempDir& tree) {
  reset_tallies();
  sweep::FINDDEL(tree.path(), platform::OPEN_ROOT(tree.path()));
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

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const WalkCase& c, std::ostream* out) {
  *out << c.label;
}

class WalkTallies : public testing::TestWithParam<WalkCase> {};

TEST_P(WalkTallies, CountsEveryPassAndDeletesOnlyMatches) {
  const WalkCase& c = GetParam();
  TempDir tree;
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
    testing::Values(WalkCase{"empty_root", {}, 1, 0, 0, 0, {}, {}},
                    WalkCase{"ten_files", numbered_files(10), 10, 0, 0, 0, {}, {"file9"}},
                    WalkCase{"eleven_files", numbered_files(11), 11, 0, 0, 11, {}, {"file10"}},
                    WalkCase{"twenty_two_files", numbered_files(22), 22, 0, 0, 22, {}, {}},
                    WalkCase{"nested",
                             {"a/", "b/", "b/thumbs.db", "THUMBS.DB", "x.txt"},
                             6,
                             2,
                             2,
                             0,
                             {"b/thumbs.db", "THUMBS.DB"},
                             {"a", "b", "x.txt"}},
                    WalkCase{
                        "case_variants_and_decoys",
                        {"THUMBS.DB", "thumbs.db", "Thumbs.Db", "THUMBS.DB.BAK", "XTHUMBS.DB",
                         "thumbs.dbx", ".hidden/", ".hidden/thumbs.db", "deep/", "deep/er/",
                         "deep/er/still/", "deep/er/still/tHuMbS.dB"},
                        12,
                        4,
                        5,
                        11,
                        {"THUMBS.DB", "thumbs.db", "Thumbs.Db", ".hidden/thumbs.db",
                         "deep/er/still/tHuMbS.dB"},
                        {"THUMBS.DB.BAK", "XTHUMBS.DB", "thumbs.dbx", ".hidden", "deep/er/still"}},
                    WalkCase{"accented_letters_are_not_folded",
                             {"thümbs.db", "THÜMBS.DB"},
                             2,
                             0,
                             0,
                             0,
                             {},
                             {"thümbs.db", "THÜMBS.DB"}},
                    WalkCase{"link_loops_are_not_entered",
                             {"self -> .", "up/", "up/loop -> ..", "up/thumbs.db"},
                             4,
                             1,
                             1,
                             0,
                             {"up/thumbs.db"},
                             {"self", "up/loop"}}),
    test_support::case_name<WalkCase>);

TEST(Walk, LinkNamedThumbsIsRemovedAsLinkAndItsTargetKept) {
  TempDir outside;
  outside.make({"THUMBS.DB", "dir/"});
  TempDir tree;
  tree.make({"thumbs.db -> " + outside.at("THUMBS.DB"), "Thumbs.db -> " + outside.at("dir"),
             "out -> " + outside.path()});
  walk(tree);
  EXPECT_EQ(sweep::COLT, 2);
  EXPECT_EQ(sweep::COLD, 0);
  EXPECT_FALSE(tree.exists("thumbs.db"));
  EXPECT_FALSE(tree.exists("Thumbs.db"));
  EXPECT_TRUE(outside.exists("THUMBS.DB"));
  EXPECT_TRUE(outside.exists("dir"));
}

TEST(Walk, RelativeRootIsResolvedAgainstTheCurrentDirectory) {
  TempDir tree;
  tree.make({"sub/", "sub/deeper/", "sub/deeper/thumbs.db", "sub/deeper/keep"});
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(tree.path());
  reset_tallies();
  sweep::FINDDEL(platform::FULL_ROOT("sub"), platform::OPEN_ROOT("sub"));
  std::filesystem::current_path(before);
  EXPECT_EQ(sweep::COLD, 1);
  EXPECT_EQ(sweep::COLT, 1);
  EXPECT_FALSE(tree.exists("sub/deeper/thumbs.db"));
  EXPECT_TRUE(tree.exists("sub/deeper/keep"));
}

TEST(Walk, DeepTreeIsWalkedToTheBottom) {
  // Paths far past the system's path length limit: each level is reached
  // from the one above it, never by its full path.
  constexpr int kLevels = 3000;
  TempDir tree;
  test_support::make_deep_chain(tree.path(), kLevels, "Thumbs.db");
  walk(tree);
  EXPECT_EQ(sweep::COLD, kLevels);
  EXPECT_EQ(sweep::COLF, kLevels + 1);
  EXPECT_EQ(sweep::COLT, 1);
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
  TempDir tree;
  tree.make({"THUMBS.DB/", "THUMBS.DB/inner/", "THUMBS.DB/inner/thumbs.db"});
  EXPECT_EXIT(walk(tree), testing::ExitedWithCode(2), "");
  // The walk entered it and erased the file inside before the stop.
  EXPECT_FALSE(tree.exists("THUMBS.DB/inner/thumbs.db"));
}

TEST(WalkDeathTest, TallyOverflowStopsWith215) {
  TempDir tree;
  tree.make({"one"});
  EXPECT_EXIT(
      {
        reset_tallies();
        sweep::COLF = INT32_MAX;
        sweep::OLDF = INT32_MAX - 20;
        sweep::FINDDEL(tree.path(), platform::OPEN_ROOT(tree.path()));
      },
      testing::ExitedWithCode(215), "");
}

}  // namespace
