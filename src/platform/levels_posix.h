// Only POSIX code: the walk's open directories kept within the process's
// descriptor limit. Each directory of a walk is a Level; while the walk is
// further down, the descriptor of a shallow Level may be closed, and it is
// opened again when the walk comes back to it: through ".." of the child the
// walk returns from, or down the names of its ancestors, checked to be the
// same directory, its listing resumed where it left off.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class Level {
 public:
  // A root of a walk: its descriptor stays open while the Level lives. The
  // descriptor limit is read again for every walk.
  static std::shared_ptr<Level> root(int fd);
  // The entry name below parent, opened with flags and O_NOFOLLOW. When the
  // descriptor limit is near or reached, the shallowest other Levels are
  // closed first. -1 with errno on failure.
  static int open_below(Level& parent, const char* name, int flags);
  // The Level for a descriptor that open_below returned for parent's entry
  // name; flags must be those it was opened with.
  static std::shared_ptr<Level> below(std::shared_ptr<Level> parent, std::string name, int fd,
                                      int flags);

  Level(const Level&) = delete;
  Level& operator=(const Level&) = delete;
  ~Level();

  // The open descriptor, positioned where its listing stood when it was
  // closed. -1 with errno when it cannot be opened again, or when what its
  // name leads to now is another directory (ENOENT then).
  int fd();
  bool is_open() const { return fd_ >= 0; }

  // How many Levels hold a descriptor now, and how many may.
  static std::size_t open_count();
  static std::size_t budget();

 private:
  // What tells one directory from another: a reopened Level must be the
  // same. Taken when the descriptor is closed, so a walk that never runs
  // short of descriptors never asks.
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
  };

  Level(int fd, std::shared_ptr<Level> parent, std::string name, int flags);

  int reopen();
  bool take(int fd);
  void reopen_through_child(int child_fd);
  void close_descriptor();
  static bool close_shallowest(const Level* keep);

  int fd_;
  std::shared_ptr<Level> parent_;
  std::string name_;
  int flags_;
  std::optional<Identity> identity_;
  std::size_t depth_;
  // Where the listing stood when the descriptor was closed; -1 for none.
  off_t resume_at_ = -1;
};

}  // namespace platform
