// The errno table: every value the file operations can meet, and the
// directory change's own rule.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/ioerror_posix.h"

namespace {

struct ErrnoCase {
  int error;
  std::uint16_t number;
  std::uint16_t directory_change;
};

const ErrnoCase kErrnoCases[] = {
    {ENOENT, 2, 3},
    {EISDIR, 2, 3},
    {ENOTDIR, 3, 3},
    {ENAMETOOLONG, 3, 3},
    {ELOOP, 3, 3},
    {ESTALE, 3, 3},
    {EMFILE, 4, 4},
    {ENFILE, 4, 4},
    {EBADF, 6, 6},
    {ENOMEM, 8, 8},
    {EACCES, 5, 5},
    {EPERM, 5, 5},
    {EBUSY, 5, 5},
    {ETXTBSY, 5, 5},
    {ENOTEMPTY, 5, 5},
    {EEXIST, 5, 5},
    {EROFS, 150, 150},
    {ENXIO, 152, 152},
    {ENODEV, 152, 152},
    {ENOMEDIUM, 152, 152},
    {ENOTCONN, 152, 152},
    {ETIMEDOUT, 152, 152},
    {EIO, 162, 162},
    // Anything unknown is a general failure, never 0.
    {EDOM, 162, 162},
    {0, 162, 162},
};

class ErrnoTest : public testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoTest, TranslatesToTheIoErrorNumber) {
  EXPECT_EQ(platform::io_error_number(GetParam().error), GetParam().number);
  EXPECT_EQ(platform::directory_change_error(GetParam().error), GetParam().directory_change);
}

INSTANTIATE_TEST_SUITE_P(Table, ErrnoTest, testing::ValuesIn(kErrnoCases));

}  // namespace
