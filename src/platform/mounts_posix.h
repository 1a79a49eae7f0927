// The mounted file systems, as the mount table of the process lists them:
// which of them hold files, and where they are mounted.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct Mount {
  dev_t device;
  std::string point;  // unescaped
  std::string type;
};

// The mounts listed by a text in the form of /proc/self/mountinfo; lines
// that cannot be read are left out.
std::vector<Mount> parse_mountinfo(std::string_view text);

// The mount table's escapes (\040 for a blank, \011, \012, \134) undone.
std::string unescape_mount_field(std::string_view field);

// True for the types of file systems that hold no files of their own but
// stand for the kernel's state (proc, sysfs, cgroup, ...).
bool is_pseudo_type(std::string_view type);

// Whether the file system of the open directory fd, which is on device,
// holds no files. The mount table is read once; a device it does not list
// is recognised by the file system's magic number.
bool on_pseudo_file_system(int fd, dev_t device);

// The mount points of every file system that holds files, in byte order,
// each once; "/" alone when the mount table cannot be read.
std::vector<std::string> file_system_roots();

// The mount points that lie below one directory of a walk, as paths relative
// to it, from the mount table read once. Most directories have none below
// them, so the walk learns from a name alone whether entering it crosses into
// another file system, without asking the system about every directory.
class MountsBelow {
 public:
  // Below the directory open as fd, found from its full path; not known
  // when the path or the mount table cannot be read.
  static MountsBelow of_directory(int fd);
  // Below a directory whose full path is path, among the mount points given.
  static MountsBelow of_path(std::string_view path, const std::vector<Mount>& mounts);
  static MountsBelow not_known() { return MountsBelow(false); }

  // Whether the entry name of this directory is a mount point; nullopt when
  // not known.
  std::optional<bool> is_mount_point(std::string_view name) const;
  // What lies below the entry name of this directory.
  MountsBelow below(std::string_view name) const;

 private:
  explicit MountsBelow(bool known) : known_(known) {}

  bool known_;
  std::vector<std::string> paths_;
};

}  // namespace platform
