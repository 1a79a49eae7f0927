// Only POSIX (Linux) code: listings, probes, erase and the current
// directory, every entry named relative to an open directory descriptor.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/dir_access.h"
#include "platform/file_layer.h"
#include "platform/files.h"
#include "platform/io_numbers.h"
#include "platform/ioerror_posix.h"
#include "platform/levels_posix.h"
#include "platform/mounts_posix.h"

namespace platform {

const char SEPARATOR = '/';

// An entered directory: its Level holds the descriptor, which may be closed
// and opened again while the walk is deeper down.
struct DirState {
  std::shared_ptr<Level> level;
  dev_t device = 0;
  // Whether the walk may go on into other mounted file systems: yes below a
  // root named on the command line, no in the sweep of every file system,
  // where each mounted file system is walked from its own root.
  bool crosses_mounts = false;
  // Non-zero for a directory that could be entered but not read (opened
  // only to search it): its listing fails with this number.
  std::uint16_t listing_error = 0;
  MountsBelow mounts = MountsBelow::not_known();
};

// One open listing: the directory it reads and the part of the last batch
// of entries that has not been delivered yet.
struct ListingState {
  std::unique_ptr<DirState> dir;
  std::vector<char> batch;
  std::size_t next = 0;
  // False when NAME names nothing (the listing could not be begun): such a
  // record is never probed or erased on disk.
  bool has_entry = false;
  bool finished = false;
  unsigned char type = DT_UNKNOWN;
};

Dir::Dir() = default;
Dir::~Dir() = default;
Dir::Dir(Dir&&) noexcept = default;
Dir& Dir::operator=(Dir&&) noexcept = default;
bool Dir::valid() const {
  return state_ != nullptr;
}
std::uint16_t Dir::error() const {
  return state_ ? state_->listing_error : PATH_NOT_FOUND;
}

Searchrec::Searchrec() = default;
Searchrec::~Searchrec() = default;

namespace {

constexpr int DIRECTORY_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// Enough to name a directory and use it as the base of *at() calls without
// the right to read it.
constexpr int SEARCH_ONLY_FLAGS = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Every level of the walk reads its batches of entries through this one
// buffer and keeps only the bytes that came back, so a deep walk costs
// memory by what each level really holds, not by the buffer's size.
std::array<char, 64 * 1024> read_buffer;

// ---- Directories --------------------------------------------------------

struct Identity {
  dev_t device = 0;
  bool mount_root = false;
  bool mount_root_known = false;
};

Identity identify(int fd) {
  struct statx info {};
  Identity identity;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_TYPE, &info) != 0) return identity;
  identity.device = makedev(info.stx_dev_major, info.stx_dev_minor);
  identity.mount_root_known = (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0;
  identity.mount_root = (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  return identity;
}

// A new file system begins at a mount root. Where the kernel does not tell
// mount roots, a change of device is taken for one.
bool is_mount_boundary(const Identity& entered, dev_t parent_device) {
  if (entered.mount_root_known) return entered.mount_root;
  return entered.device != parent_device;
}

std::unique_ptr<DirState> adopt(std::shared_ptr<Level> level, dev_t device, MountsBelow mounts,
                                bool crosses_mounts, std::uint16_t listing_error) {
  auto state = std::make_unique<DirState>();
  state->level = std::move(level);
  state->device = device;
  state->mounts = std::move(mounts);
  state->crosses_mounts = crosses_mounts;
  state->listing_error = listing_error;
  return state;
}

// Opens a path of any length: a path the system refuses as too long is
// opened one component at a time, following symbolic links as open does.
int open_any_length(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags);
  if (fd >= 0 || errno != ENAMETOOLONG) return fd;
  int base = path.front() == '/' ? open("/", SEARCH_ONLY_FLAGS) : AT_FDCWD;
  std::size_t start = 0;
  while (base != -1) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string component = path.substr(start, end - start);
    start = end + 1;
    const bool last = path.find_first_not_of('/', end) == std::string::npos;
    if (component.empty() && !last) continue;
    const int next =
        openat(base, component.empty() ? "." : component.c_str(), last ? flags : SEARCH_ONLY_FLAGS);
    const int saved = errno;
    if (base != AT_FDCWD) close(base);
    errno = saved;
    if (last) return next;
    base = next;
  }
  return -1;
}

// A root of a walk: followed through symbolic links, refused on a pseudo
// file system. A directory that may be entered but not read is a root all
// the same; its listing fails with 5.
Dir open_root_directory(const std::string& path, bool crosses_mounts) {
  if (path.empty()) return {};
  std::uint16_t listing_error = 0;
  int fd = open_any_length(path, DIRECTORY_FLAGS);
  if (fd < 0 && errno == EACCES) {
    fd = open_any_length(path, SEARCH_ONLY_FLAGS);
    if (fd >= 0 && faccessat(fd, ".", X_OK, AT_EACCESS) != 0) {
      close(fd);
      fd = -1;
    }
    listing_error = ACCESS_DENIED;
  }
  if (fd < 0) return {};
  const Identity identity = identify(fd);
  if (on_pseudo_file_system(fd, identity.device)) {
    close(fd);
    return {};
  }
  MountsBelow mounts = MountsBelow::of_directory(fd);
  return DirAccess::make(
      adopt(Level::root(fd), identity.device, std::move(mounts), crosses_mounts, listing_error));
}

// ---- Listing ------------------------------------------------------------

void fail_listing(ListingState& listing, Searchrec& F, std::uint16_t number) {
  DOSERROR = static_cast<std::int16_t>(number);
  F.NAME = NO_ENTRY_NAME;
  listing.has_entry = false;
  listing.finished = true;
}

template <typename Field>
Field read_field(const char* record, std::size_t offset) {
  Field value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

// Refills the batch; returns 0 with entries, 18 at the end, else the error.
std::uint16_t read_batch(ListingState& listing) {
  const int fd = listing.dir->level->fd();
  if (fd < 0) return io_error_number(errno);
  const ssize_t size = getdents64(fd, read_buffer.data(), read_buffer.size());
  if (size < 0) return io_error_number(errno);
  if (size == 0) return NO_MORE_FILES;
  listing.batch.assign(read_buffer.data(), read_buffer.data() + size);
  listing.next = 0;
  return 0;
}

// Delivers the next entry but "." and ".." into F.NAME; returns 0, or the
// number the listing ended with.
std::uint16_t deliver_next(ListingState& listing, Searchrec& F) {
  for (;;) {
    if (listing.next >= listing.batch.size()) {
      if (const std::uint16_t status = read_batch(listing); status != 0) return status;
    }
    const char* record = listing.batch.data() + listing.next;
    listing.next += read_field<unsigned short>(record, offsetof(struct dirent64, d_reclen));
    const char* name = record + offsetof(struct dirent64, d_name);
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    F.NAME = name;
    listing.type = read_field<unsigned char>(record, offsetof(struct dirent64, d_type));
    listing.has_entry = true;
    return 0;
  }
}

// ---- Probe --------------------------------------------------------------

// An entry that may be searched but not read: entered all the same, with a
// listing that fails with 5. Anything else refused stays refused with 5.
int open_search_only(Level& parent, const char* name, int& flags, std::uint16_t& listing_error) {
  flags = SEARCH_ONLY_FLAGS;
  const int fd = Level::open_below(parent, name, flags);
  if (fd >= 0 && faccessat(parent.fd(), name, X_OK, AT_EACCESS) == 0) {
    listing_error = ACCESS_DENIED;
    return fd;
  }
  if (fd >= 0) close(fd);
  errno = EACCES;
  return -1;
}

std::uint16_t probe_error(int error) {
  // The entry itself is not a directory (ENOTDIR) or is a symbolic link
  // (ELOOP under O_NOFOLLOW): a directory change naming a file.
  if (error == ENOTDIR || error == ELOOP) return NOT_A_DIRECTORY;
  return directory_change_error(error);
}

bool refuses_file_system(const DirState& parent, int fd, const Identity& entered,
                         std::optional<bool> listed_mount_point) {
  const bool boundary = listed_mount_point.value_or(is_mount_boundary(entered, parent.device));
  if (boundary && !parent.crosses_mounts) return true;
  return (boundary || entered.device != parent.device) && on_pseudo_file_system(fd, entered.device);
}

Dir enter(const DirState& parent, const char* name) {
  std::uint16_t listing_error = 0;
  int flags = DIRECTORY_FLAGS;
  int fd = Level::open_below(*parent.level, name, flags);
  if (fd < 0 && errno == EACCES) fd = open_search_only(*parent.level, name, flags, listing_error);
  if (fd < 0) {
    INOUTRES = probe_error(errno);
    return {};
  }
  // Where the mount table says no file system begins here, the directory is
  // on its parent's, and nothing need be asked of it.
  const std::optional<bool> listed_mount_point = parent.mounts.is_mount_point(name);
  Identity identity{parent.device};
  if (listed_mount_point != false) {
    identity = identify(fd);
    if (refuses_file_system(parent, fd, identity, listed_mount_point)) {
      close(fd);
      INOUTRES = ACCESS_DENIED;
      return {};
    }
  }
  std::shared_ptr<Level> level = Level::below(parent.level, name, fd, flags);
  return DirAccess::make(adopt(std::move(level), identity.device, parent.mounts.below(name),
                               parent.crosses_mounts, listing_error));
}

bool may_be_directory(unsigned char type) {
  return type == DT_DIR || type == DT_UNKNOWN;
}

std::string current_directory() {
  char* path = getcwd(nullptr, 0);
  if (path == nullptr) return {};
  std::string text(path);
  std::free(path);
  return text;
}

// A directory change that fails on a file names that file: 267; on a path
// whose middle part is a file, the path is not found: 3.
std::uint16_t chdir_error(const std::string& path, int error) {
  struct stat info {};
  if (error == ENOTDIR && stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
    return NOT_A_DIRECTORY;
  }
  return directory_change_error(error);
}

bool change_directory(const std::string& path) {
  if (chdir(path.c_str()) == 0) return true;
  if (errno != ENAMETOOLONG) return false;
  const int fd = open_any_length(path, SEARCH_ONLY_FLAGS);
  if (fd < 0) return false;
  const bool changed = fchdir(fd) == 0;
  const int saved = errno;
  close(fd);
  errno = saved;
  return changed;
}

}  // namespace

Dir OPEN_ROOT(const std::string& path) {
  return open_root_directory(path, true);
}

std::string FULL_ROOT(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::string full = current_directory();
  if (full.empty() || full.back() != '/') full += '/';
  return full + path;
}

std::vector<std::string> DRIVE_ROOTS() {
  return file_system_roots();
}

Dir OPEN_DRIVE_ROOT(const std::string& root) {
  return open_root_directory(root, false);
}

void FINDFIRST(Dir dir, Searchrec& F) {
  DOSERROR = 0;
  F.listing = std::make_unique<ListingState>();
  ListingState& listing = *F.listing;
  listing.dir = DirAccess::take(dir);
  if (!listing.dir) return fail_listing(listing, F, PATH_NOT_FOUND);
  if (listing.dir->listing_error != 0) return fail_listing(listing, F, listing.dir->listing_error);
  if (const std::uint16_t status = deliver_next(listing, F); status != 0) {
    fail_listing(listing, F, status);
  }
}

void FINDNEXT(Searchrec& F) {
  DOSERROR = 0;
  ListingState* listing = F.listing.get();
  if (listing == nullptr || listing->finished) {
    DOSERROR = NO_MORE_FILES;
    return;
  }
  if (const std::uint16_t status = deliver_next(*listing, F); status != 0) {
    DOSERROR = static_cast<std::int16_t>(status);
    listing->finished = true;
  }
}

Dir PROBE(const Searchrec& F) {
  if (INOUTRES != 0) return {};
  const ListingState* listing = F.listing.get();
  if (listing == nullptr || !listing->has_entry) {
    INOUTRES = PATH_NOT_FOUND;
    return {};
  }
  // The listing already says what a file, link, pipe, socket or device is;
  // nothing of it is opened.
  if (!may_be_directory(listing->type)) {
    INOUTRES = NOT_A_DIRECTORY;
    return {};
  }
  return enter(*listing->dir, F.NAME.c_str());
}

bool has_entry(const ListingState& listing) {
  return listing.has_entry;
}

// A symbolic link goes as a link; a pipe or socket goes without being
// opened; a directory is refused (EISDIR, 2).
std::uint16_t erase_entry(const ListingState& listing, const std::string& name) {
  const int dir_fd = listing.dir->level->fd();
  if (dir_fd < 0) return directory_change_error(errno);
  return unlinkat(dir_fd, name.c_str(), 0) == 0 ? 0 : io_error_number(errno);
}

std::string GETDIR() {
  return current_directory();
}

void CHDIR(const std::string& path) {
  if (path.empty() || INOUTRES != 0) return;
  if (!change_directory(path)) INOUTRES = chdir_error(path, errno);
}

}  // namespace platform
