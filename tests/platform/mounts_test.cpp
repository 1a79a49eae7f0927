// The mount table's text: fields, escapes, which file systems hold files.
#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include "case_name.h"
#include "platform/mounts_posix.h"

namespace {

TEST(MountTable, ReadsPointTypeAndDeviceOfEveryLine) {
  const char* text =
      "21 27 0:20 / /proc rw,relatime - proc proc rw\n"
      "27 1 254:0 / / rw,relatime shared:1 master:2 - ext4 /dev/vda rw\n"
      "40 27 8:17 /data /media/my\\040disk\\011tab\\134 rw - vfat /dev/sdb1 rw\n"
      "not a mount line\n"
      "41 27 0:40 / /broken rw no-separator\n";
  const std::vector<platform::Mount> mounts = platform::parse_mountinfo(text);
  ASSERT_EQ(mounts.size(), 3u);
  EXPECT_EQ(mounts[0].point, "/proc");
  EXPECT_EQ(mounts[0].type, "proc");
  EXPECT_EQ(mounts[0].device, makedev(0, 20));
  EXPECT_EQ(mounts[1].point, "/");
  EXPECT_EQ(mounts[1].type, "ext4");
  EXPECT_EQ(mounts[1].device, makedev(254, 0));
  EXPECT_EQ(mounts[2].point, "/media/my disk\ttab\\");
  EXPECT_EQ(mounts[2].type, "vfat");
}

struct UnescapeCase {
  const char* label;
  const char* field;
  const char* text;
};

const UnescapeCase kUnescapeCases[] = {
    {"plain", "/mnt/a", "/mnt/a"},
    {"blank", "/a\\040b", "/a b"},
    {"newline", "/a\\012", "/a\n"},
    {"backslash", "/a\\134b", "/a\\b"},
    {"not octal stays", "/a\\09x", "/a\\09x"},
    {"cut short stays", "/a\\04", "/a\\04"},
};

class UnescapeTest : public testing::TestWithParam<UnescapeCase> {};

TEST_P(UnescapeTest, UndoesTheEscapes) {
  EXPECT_EQ(platform::unescape_mount_field(GetParam().field), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Fields, UnescapeTest, testing::ValuesIn(kUnescapeCases),
                         test_support::case_name<UnescapeCase>);

TEST(MountTable, PseudoTypesHoldNoFiles) {
  for (const char* type : {"proc", "sysfs", "devtmpfs", "devpts", "cgroup2", "tracefs", "nsfs",
                           "autofs", "binfmt_misc", "rpc_pipefs"}) {
    EXPECT_TRUE(platform::is_pseudo_type(type)) << type;
  }
  for (const char* type : {"ext4", "xfs", "btrfs", "tmpfs", "vfat", "nfs", "overlay", "fuse"}) {
    EXPECT_FALSE(platform::is_pseudo_type(type)) << type;
  }
}

}  // namespace
