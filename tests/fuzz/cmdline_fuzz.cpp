// Fuzz target: the command-line splitter against a model written straight
// from the splitting rules, one rule at a time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "platform/cmdline.h"

namespace {

// The rules: bytes 1 to 32 separate arguments (a run of them is one
// separator, none at the ends make an argument); a double quote outside a
// single-quoted stretch, or a single quote outside a double-quoted one,
// opens a stretch that the next such quote closes, and both quotes are
// removed; inside a stretch separators and the other quote are plain; two
// equal quotes in a row outside a stretch of the other kind are removed and
// open or close nothing (so "" alone is an empty argument); everything else
// is copied.
std::vector<std::string> model_split(std::string_view line) {
  std::vector<std::string> arguments;
  std::string argument;
  bool in_argument = false;
  char stretch = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    const auto code = static_cast<unsigned char>(c);
    if (stretch == 0 && code >= 1 && code <= 32) {
      if (in_argument) arguments.push_back(argument);
      argument.clear();
      in_argument = false;
      continue;
    }
    in_argument = true;
    const bool quote = c == '"' || c == '\'';
    if (!quote || (stretch != 0 && stretch != c)) {
      argument += c;
    } else if (i + 1 < line.size() && line[i + 1] == c) {
      ++i;
    } else {
      stretch = stretch == 0 ? c : 0;
    }
  }
  if (in_argument) arguments.push_back(argument);
  return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(platform::split_command_line(line) == model_split(line));
  return 0;
}
