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

namespace {

std::vector<platform::Mount> mounts_at(std::initializer_list<const char*> points) {
  std::vector<platform::Mount> mounts;
  for (const char* point : points) mounts.push_back({0, point, "ext4"});
  return mounts;
}

// Which names below a directory are mount points, level by level: the walk
// asks the system about those alone.
TEST(MountsBelow, FollowsTheMountPointsDownTheirPaths) {
  const auto mounts =
      mounts_at({"/", "/data", "/data/photos/old", "/proc", "/srv/a b", "/database"});
  const platform::MountsBelow root = platform::MountsBelow::of_path("/", mounts);
  EXPECT_EQ(root.is_mount_point("data"), true);
  EXPECT_EQ(root.is_mount_point("proc"), true);
  EXPECT_EQ(root.is_mount_point("srv"), false);
  EXPECT_EQ(root.is_mount_point("dat"), false);

  const platform::MountsBelow data = root.below("data");
  EXPECT_EQ(data.is_mount_point("photos"), false);
  EXPECT_EQ(data.below("photos").is_mount_point("old"), true);
  EXPECT_EQ(data.below("photos").below("old").is_mount_point("x"), false);
  EXPECT_EQ(root.below("database").is_mount_point("photos"), false);
  EXPECT_EQ(root.below("srv").is_mount_point("a b"), true);

  const platform::MountsBelow srv = platform::MountsBelow::of_path("/srv", mounts);
  EXPECT_EQ(srv.is_mount_point("a b"), true);
  EXPECT_EQ(platform::MountsBelow::of_path("/data/photos", mounts).is_mount_point("old"), true);
  EXPECT_EQ(platform::MountsBelow::of_path("/data/photos/old", mounts).is_mount_point("x"), false);
}

TEST(MountsBelow, WithoutTheMountTableNothingIsKnown) {
  const platform::MountsBelow unknown = platform::MountsBelow::not_known();
  EXPECT_EQ(unknown.is_mount_point("data"), std::nullopt);
  EXPECT_EQ(unknown.below("data").is_mount_point("x"), std::nullopt);
}

}  // namespace
