// The I/O error numbers with a meaning of their own, and the name a listing
// record holds when its listing cannot be begun; the same on every platform.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr std::uint16_t FILE_NOT_FOUND = 2;
inline constexpr std::uint16_t PATH_NOT_FOUND = 3;
inline constexpr std::uint16_t ACCESS_DENIED = 5;
inline constexpr std::uint16_t INVALID_DATA = 13;
inline constexpr std::uint16_t NO_MORE_FILES = 18;
// A directory change that names something other than a directory.
inline constexpr std::uint16_t NOT_A_DIRECTORY = 267;

// What NAME holds when a listing cannot be begun: never empty, never a dot
// entry, never THUMBS.DB in any case. The record is marked so that nothing
// looks it up on disk, where such a name could exist.
inline constexpr const char* NO_ENTRY_NAME = "*.*";

}  // namespace platform
