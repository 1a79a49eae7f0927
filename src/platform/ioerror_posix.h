// The one translation of the system's errno values into the I/O error
// numbers that INOUTRES and DOSERROR carry.
#pragma once

#include <cstdint>

#include "platform/io_numbers.h"

namespace platform {

// The number stored for a failed operation that set errno to error.
std::uint16_t io_error_number(int error);
// The same for a failed directory change, where a missing directory is a
// missing path: 2 becomes 3.
std::uint16_t directory_change_error(int error);

}  // namespace platform
