// Only POSIX (Linux) code: the mount table from /proc/self/mountinfo and the
// recognition of pseudo file systems.
#include "platform/mounts_posix.h"

#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <sstream>

namespace platform {

namespace {

// devtmpfs has tmpfs's magic number, so only the mount table tells it.
constexpr std::array<std::string_view, 27> kPseudoTypes = {
    "proc",      "sysfs",       "devtmpfs", "devpts",   "cgroup",    "cgroup2", "securityfs",
    "debugfs",   "tracefs",     "pstore",   "bpf",      "configfs",  "fusectl", "mqueue",
    "hugetlbfs", "binfmt_misc", "autofs",   "efivarfs", "selinuxfs", "nsfs",    "rpc_pipefs",
    "nfsd",      "smackfs",     "xenfs",    "pipefs",   "sockfs",    "usbfs"};

// Not every kernel header names these three.
constexpr unsigned long kConfigfsMagic = 0x62656570;
constexpr unsigned long kFusectlMagic = 0x65735543;
constexpr unsigned long kMqueueMagic = 0x19800202;

constexpr std::array<unsigned long, 18> kPseudoMagics = {
    PROC_SUPER_MAGIC,   SYSFS_MAGIC,    DEVPTS_SUPER_MAGIC, CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC,
    SECURITYFS_MAGIC,   DEBUGFS_MAGIC,  TRACEFS_MAGIC,      PSTOREFS_MAGIC,     BPF_FS_MAGIC,
    kConfigfsMagic,     kFusectlMagic,  kMqueueMagic,       HUGETLBFS_MAGIC,    BINFMTFS_MAGIC,
    AUTOFS_SUPER_MAGIC, EFIVARFS_MAGIC, NSFS_MAGIC};

std::vector<std::string> split_fields(const std::string& line) {
  std::istringstream stream(line);
  return {std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()};
}

// A line reads: id parent major:minor root point options [optional...] -
// type source super-options.
bool parse_mount_line(const std::string& line, Mount& mount) {
  const std::vector<std::string> fields = split_fields(line);
  const auto separator = std::find(fields.begin(), fields.end(), "-");
  if (separator == fields.end() || std::next(separator) == fields.end() ||
      std::distance(fields.begin(), separator) < 6) {
    return false;
  }
  unsigned major_number = 0;
  unsigned minor_number = 0;
  char colon = 0;
  std::istringstream device(fields[2]);
  if (!(device >> major_number >> colon >> minor_number) || colon != ':') return false;
  mount.device = makedev(major_number, minor_number);
  mount.point = unescape_mount_field(fields[4]);
  mount.type = *std::next(separator);
  return true;
}

std::string read_mountinfo() {
  std::ifstream file("/proc/self/mountinfo");
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Read once: the devices of the mounted file systems, pseudo or not.
const std::vector<Mount>& mount_table() {
  static const std::vector<Mount> mounts = parse_mountinfo(read_mountinfo());
  return mounts;
}

bool has_pseudo_magic(int fd) {
  struct statfs info {};
  if (fstatfs(fd, &info) != 0) return false;
  const auto magic = static_cast<unsigned long>(info.f_type);
  return std::find(kPseudoMagics.begin(), kPseudoMagics.end(), magic) != kPseudoMagics.end();
}

bool is_octal_digit(char c) {
  return c >= '0' && c <= '7';
}

}  // namespace

std::vector<Mount> parse_mountinfo(std::string_view text) {
  std::vector<Mount> mounts;
  std::istringstream lines{std::string(text)};
  std::string line;
  Mount mount;
  while (std::getline(lines, line)) {
    if (parse_mount_line(line, mount)) mounts.push_back(mount);
  }
  return mounts;
}

std::string unescape_mount_field(std::string_view field) {
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && is_octal_digit(field[i + 1]) &&
        is_octal_digit(field[i + 2]) && is_octal_digit(field[i + 3])) {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

bool is_pseudo_type(std::string_view type) {
  return std::find(kPseudoTypes.begin(), kPseudoTypes.end(), type) != kPseudoTypes.end();
}

bool on_pseudo_file_system(int fd, dev_t device) {
  const std::vector<Mount>& mounts = mount_table();
  const auto listed = std::find_if(mounts.begin(), mounts.end(),
                                   [device](const Mount& m) { return m.device == device; });
  if (listed != mounts.end()) return is_pseudo_type(listed->type);
  return has_pseudo_magic(fd);
}

MountsBelow MountsBelow::of_path(std::string_view path, const std::vector<Mount>& mounts) {
  MountsBelow found(true);
  const std::string prefix = path == "/" ? "/" : std::string(path) + "/";
  for (const Mount& mount : mounts) {
    if (mount.point.size() > prefix.size() && mount.point.starts_with(prefix)) {
      found.paths_.push_back(mount.point.substr(prefix.size()));
    }
  }
  return found;
}

MountsBelow MountsBelow::of_directory(int fd) {
  const std::vector<Mount>& mounts = mount_table();
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = readlink(link.c_str(), path, sizeof path);
  if (mounts.empty() || length <= 0 || static_cast<std::size_t>(length) >= sizeof path ||
      path[0] != '/') {
    return not_known();
  }
  return of_path(std::string_view(path, static_cast<std::size_t>(length)), mounts);
}

std::optional<bool> MountsBelow::is_mount_point(std::string_view name) const {
  if (!known_) return std::nullopt;
  return std::find(paths_.begin(), paths_.end(), name) != paths_.end();
}

MountsBelow MountsBelow::below(std::string_view name) const {
  MountsBelow found(known_);
  for (const std::string& path : paths_) {
    if (path.size() > name.size() + 1 && path.starts_with(name) && path[name.size()] == '/') {
      found.paths_.push_back(path.substr(name.size() + 1));
    }
  }
  return found;
}

std::vector<std::string> file_system_roots() {
  std::vector<std::string> roots;
  for (const Mount& mount : parse_mountinfo(read_mountinfo())) {
    if (!is_pseudo_type(mount.type)) roots.push_back(mount.point);
  }
  if (roots.empty()) roots.push_back("/");
  std::sort(roots.begin(), roots.end());
  roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
  return roots;
}

}  // namespace platform
