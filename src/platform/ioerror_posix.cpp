// Only POSIX code: errno values to I/O error numbers, in one table.
#include "platform/ioerror_posix.h"

#include <cerrno>

namespace platform {

namespace {

struct Translation {
  int error;
  std::uint16_t number;
};

// Numbers 150 to 162 are the medium's own failures (write-protected medium,
// drive not ready, general failure); 5 covers everything refused.
constexpr Translation kTranslations[] = {
    {ENOENT, FILE_NOT_FOUND},
    // Erasing a directory named THUMBS.DB: like a directory entry that
    // cannot be deleted as a file.
    {EISDIR, FILE_NOT_FOUND},
    {ENOTDIR, PATH_NOT_FOUND},
    {ENAMETOOLONG, PATH_NOT_FOUND},
    {ELOOP, PATH_NOT_FOUND},
    {ESTALE, PATH_NOT_FOUND},
    {EMFILE, 4},
    {ENFILE, 4},
    {EBADF, 6},
    {ENOMEM, 8},
    {EACCES, ACCESS_DENIED},
    {EPERM, ACCESS_DENIED},
    {EBUSY, ACCESS_DENIED},
    {ETXTBSY, ACCESS_DENIED},
    {ENOTEMPTY, ACCESS_DENIED},
    {EEXIST, ACCESS_DENIED},
    {EROFS, 150},
    {ENXIO, 152},
    {ENODEV, 152},
    {ENOMEDIUM, 152},
    {ENOTCONN, 152},
    {ETIMEDOUT, 152},
    {EIO, 162},
};

// Whatever the table does not know is a general failure: still nonzero, so
// a failed erase always stops the program.
constexpr std::uint16_t GENERAL_FAILURE = 162;

}  // namespace

std::uint16_t io_error_number(int error) {
  for (const Translation& translation : kTranslations) {
    if (translation.error == error) return translation.number;
  }
  return GENERAL_FAILURE;
}

std::uint16_t directory_change_error(int error) {
  const std::uint16_t number = io_error_number(error);
  return number == FILE_NOT_FOUND ? PATH_NOT_FOUND : number;
}

}  // namespace platform
