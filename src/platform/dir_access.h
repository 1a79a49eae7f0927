// The one way for a platform's file layer into a Dir's state. Included only
// by files_<platform>.cpp, where DirState is complete.
#pragma once

#include <memory>
#include <utility>

#include "platform/files.h"

namespace platform {

struct DirAccess {
  static Dir make(std::unique_ptr<DirState> state) {
    Dir dir;
    dir.state_ = std::move(state);
    return dir;
  }
  static std::unique_ptr<DirState> take(Dir& dir) { return std::move(dir.state_); }
};

}  // namespace platform
