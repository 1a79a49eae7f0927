// The run-time stop report's lines, the same on every platform.
#include "platform/report.h"

#include <algorithm>

namespace platform::report {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

Line& Line::add(std::string_view part) {
  // Room is always kept for the line end.
  const std::size_t room = kCapacity - kLineEnd.size() - size_;
  const std::size_t taken = std::min(room, part.size());
  std::copy_n(part.data(), taken, text_.data() + size_);
  size_ += taken;
  return *this;
}

Line& Line::add_decimal(long long number) {
  std::array<char, 24> digits{};
  std::size_t first = digits.size();
  unsigned long long magnitude = number < 0 ? 0ULL - static_cast<unsigned long long>(number)
                                            : static_cast<unsigned long long>(number);
  do {
    digits[--first] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (number < 0) digits[--first] = '-';
  return add({digits.data() + first, digits.size() - first});
}

Line& Line::add_address(std::uint32_t address) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  std::array<char, 9> text{'$'};
  for (std::size_t i = 8; i >= 1; --i, address >>= 4) text[i] = kHex[address & 0xF];
  return add({text.data(), text.size()});
}

Line& Line::end() {
  std::copy(kLineEnd.begin(), kLineEnd.end(), text_.data() + size_);
  size_ += kLineEnd.size();
  return *this;
}

Line headline(int number, std::uint32_t address) {
  Line line;
  line.add("Runtime error ").add_decimal(number).add(" at ").add_address(address);
  return line.end();
}

Line location_line(const Location& location) {
  Line line;
  line.add("  ").add_address(location.address);
  if (location.name != nullptr) {
    line.add("  ").add(location.name).add(",  line ").add_decimal(location.line);
    line.add(" of ").add(location.file);
  }
  return line.end();
}

void write_report(int number, const Location& stop, std::span<const Location> callers, Sink sink) {
  sink(headline(number, stop.address).text());
  sink(location_line(stop).text());
  for (const Location& caller : callers) sink(location_line(caller).text());
  sink(kLineEnd);
}

}  // namespace platform::report
