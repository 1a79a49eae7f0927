// The one translation of the system's errno values into the I/O error
// numbers that INOUTRES and DOSERROR carry.
#pragma once

#include <cstdint>

namespace platform {

// I/O error numbers with a meaning of their own.
inline constexpr std::uint16_t FILE_NOT_FOUND = 2;
inline constexpr std::uint16_t PATH_NOT_FOUND = 3;
inline constexpr std::uint16_t ACCESS_DENIED = 5;
inline constexpr std::uint16_t NO_MORE_FILES = 18;
// A directory change that names something other than a directory.
inline constexpr std::uint16_t NOT_A_DIRECTORY = 267;

// The number stored for a failed operation that set errno to error.
std::uint16_t io_error_number(int error);
// The same for a failed directory change, where a missing directory is a
// missing path: 2 becomes 3.
std::uint16_t directory_change_error(int error);

}  // namespace platform
