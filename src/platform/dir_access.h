// The one way for a platform's file layer into a Dir's state, and what each
// platform's file layer gives the shared one. Included only by the file
// layers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/files.h"

namespace platform {

// A listing's current entry: whether there is one, and its erase, which
// returns 0 or the I/O error number.
bool has_entry(const ListingState& listing);
std::uint16_t erase_entry(const ListingState& listing, const std::string& name);

struct DirAccess {
  static Dir make(std::unique_ptr<DirState> state) {
    Dir dir;
    dir.state_ = std::move(state);
    return dir;
  }
  static std::unique_ptr<DirState> take(Dir& dir) { return std::move(dir.state_); }
};

}  // namespace platform
