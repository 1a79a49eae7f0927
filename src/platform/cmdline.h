// The command line split into arguments, for platforms that hand a program
// its command line as one string.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits a command line into its arguments. Bytes 1 to 32 separate
// arguments; a double or a single quote opens a stretch in which separators
// and the other quote are ordinary, closed by the next quote of its kind (or
// the end of the line); two equal quotes in a row outside a stretch of the
// other kind are dropped and open or close nothing. Quotes that open or
// close a stretch are dropped; every other byte, the backslash included, is
// copied. The first argument is the program's name.
std::vector<std::string> split_command_line(std::string_view line);

}  // namespace platform
