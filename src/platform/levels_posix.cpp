// Only POSIX code: directory descriptors of a walk, closed when the process
// nears its descriptor limit and opened again from their parents.
#include "platform/levels_posix.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Left for everything else the process holds: standard streams, the
// keyboard, the mount table while it is read, a sanitizer's own files.
constexpr rlim_t RESERVED_DESCRIPTORS = 16;
// A root and the level being walked are always allowed.
constexpr std::size_t FEWEST_LEVELS = 2;

// Every Level that holds a descriptor, in the order they were opened.
std::vector<Level*> open_levels;
// How many may, as read when the current walk began or when the system
// last refused a descriptor: reading the limit is a system call, too many
// to make for every directory entered.
std::size_t levels_allowed = std::numeric_limits<std::size_t>::max();

bool out_of_descriptors(int error) {
  return error == EMFILE || error == ENFILE;
}

void forget(const Level* level) {
  const auto found = std::find(open_levels.rbegin(), open_levels.rend(), level);
  if (found != open_levels.rend()) open_levels.erase(std::next(found).base());
}

}  // namespace

Level::Level(int fd, std::shared_ptr<Level> parent, std::string name, int flags)
    : fd_(fd),
      parent_(std::move(parent)),
      name_(std::move(name)),
      flags_(flags),
      depth_(parent_ ? parent_->depth_ + 1 : 0) {
  open_levels.push_back(this);
}

std::shared_ptr<Level> Level::root(int fd) {
  levels_allowed = budget();
  return std::shared_ptr<Level>(new Level(fd, nullptr, {}, 0));
}

std::shared_ptr<Level> Level::below(std::shared_ptr<Level> parent, std::string name, int fd,
                                    int flags) {
  return std::shared_ptr<Level>(new Level(fd, std::move(parent), std::move(name), flags));
}

// When the walk leaves a directory whose parent was closed, the parent is
// opened through "..": one call, where the names of every ancestor would
// take one each.
Level::~Level() {
  if (fd_ < 0) return;
  if (parent_ && !parent_->is_open()) parent_->reopen_through_child(fd_);
  ::close(fd_);
  forget(this);
}

std::size_t Level::open_count() {
  return open_levels.size();
}

std::size_t Level::budget() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return std::numeric_limits<std::size_t>::max();
  }
  if (limit.rlim_cur <= RESERVED_DESCRIPTORS + FEWEST_LEVELS) return FEWEST_LEVELS;
  return static_cast<std::size_t>(limit.rlim_cur - RESERVED_DESCRIPTORS);
}

int Level::open_below(Level& parent, const char* name, int flags) {
  if (parent.fd() < 0) return -1;
  while (open_levels.size() >= levels_allowed && close_shallowest(&parent)) {
  }
  for (;;) {
    const int fd = ::openat(parent.fd_, name, flags | O_NOFOLLOW);
    if (fd >= 0 || !out_of_descriptors(errno)) return fd;
    // Whoever runs the walk may have lowered the limit meanwhile.
    levels_allowed = std::min(levels_allowed, budget());
    if (!close_shallowest(&parent)) return fd;
  }
}

int Level::fd() {
  return fd_ >= 0 ? fd_ : reopen();
}

// Down from the nearest open ancestor, each closed level by its name. A
// root is never closed, so there always is one.
int Level::reopen() {
  std::vector<Level*> closed;
  for (Level* level = this; level != nullptr && !level->is_open(); level = level->parent_.get()) {
    closed.push_back(level);
  }
  if (closed.back()->parent_ == nullptr) {
    errno = ENOENT;
    return -1;
  }
  for (auto level = closed.rbegin(); level != closed.rend(); ++level) {
    Level& next = **level;
    const int fd = open_below(*next.parent_, next.name_.c_str(), next.flags_);
    if (fd < 0 || !next.take(fd)) return -1;
  }
  return fd_;
}

// A reopened descriptor is kept only when it is the same directory, and
// only at the listing's old position.
bool Level::take(int fd) {
  struct stat info {};
  const bool same = identity_ && ::fstat(fd, &info) == 0 && info.st_dev == identity_->device &&
                    info.st_ino == identity_->inode;
  if (!same || (resume_at_ >= 0 && ::lseek(fd, resume_at_, SEEK_SET) < 0)) {
    const int error = same ? errno : ENOENT;
    ::close(fd);
    errno = error;
    return false;
  }
  fd_ = fd;
  open_levels.push_back(this);
  return true;
}

void Level::reopen_through_child(int child_fd) {
  const int fd = ::openat(child_fd, "..", flags_ | O_DIRECTORY);
  if (fd >= 0) take(fd);
}

// The listing's position is kept for the reopening. A descriptor opened
// only to search the directory has no position (lseek fails): none is kept.
void Level::close_descriptor() {
  resume_at_ = ::lseek(fd_, 0, SEEK_CUR);
  struct stat info {};
  identity_.reset();
  if (::fstat(fd_, &info) == 0) identity_ = Identity{info.st_dev, info.st_ino};
  ::close(fd_);
  fd_ = -1;
  forget(this);
}

// The shallowest level is the one the walk comes back to last.
bool Level::close_shallowest(const Level* keep) {
  Level* shallowest = nullptr;
  for (Level* level : open_levels) {
    if (level == keep || level->parent_ == nullptr) continue;
    if (shallowest == nullptr || level->depth_ < shallowest->depth_) shallowest = level;
  }
  if (shallowest == nullptr) return false;
  shallowest->close_descriptor();
  return true;
}

}  // namespace platform
