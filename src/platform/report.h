// The lines of the run-time stop report. Every function here is safe in a
// fault handler: no allocation, no locale, no stdio.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace platform::report {

// One location line: the code address as an offset from the program's load
// base and, when the address is known to lie in one of the program's own
// routines, that routine's name and the source line it stands on.
struct Location {
  std::uint32_t address = 0;
  const char* name = nullptr;  // nullptr: the address alone
  std::uint_least32_t line = 0;
  const char* file = "";
};

// One line of the report with its CR LF. A line that would not fit is cut
// before its CR LF.
class Line {
 public:
  std::string_view text() const { return {text_.data(), size_}; }

  Line& add(std::string_view part);
  Line& add_decimal(long long number);
  Line& add_address(std::uint32_t address);  // "$" and 8 upper-case hex digits
  Line& end();                               // CR LF

 private:
  static constexpr std::size_t kCapacity = 1024;
  std::array<char, kCapacity> text_{};
  std::size_t size_ = 0;
};

// "Runtime error N at $XXXXXXXX"
Line headline(int number, std::uint32_t address);
// "  $XXXXXXXX" and, with a name, "  NAME,  line L of FILE".
Line location_line(const Location& location);

// Receives each line the moment it is complete.
using Sink = void (*)(std::string_view line);

// The whole report: the headline, the stop's own location, one line per
// caller (the caller cap is the caller's business), an empty line.
void write_report(int number, const Location& stop, std::span<const Location> callers, Sink sink);

}  // namespace platform::report
