// The splitting of a command line string into arguments; shared by every
// platform that receives its command line whole.
#include "platform/cmdline.h"

#include <optional>
#include <utility>

namespace platform {

namespace {

bool is_separator(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

bool is_quote(char c) {
  return c == '"' || c == '\'';
}

// Walks the line once, gathering the argument being read. The open stretch,
// when there is one, is remembered by its quote character.
class Splitter {
 public:
  explicit Splitter(std::string_view line) : line_(line) {}

  std::vector<std::string> split() {
    for (std::size_t i = 0; i < line_.size(); ++i) {
      if (!stretch_ && is_separator(line_[i])) {
        end_argument();
      } else {
        i = take(i);
      }
    }
    end_argument();
    return arguments_;
  }

 private:
  // Takes the byte at i (and its twin, for a doubled quote); returns the
  // index of the last byte taken.
  std::size_t take(std::size_t i) {
    const char c = line_[i];
    if (!current_) current_.emplace();
    if (!is_quote(c) || (stretch_ && *stretch_ != c)) {
      current_->push_back(c);
      return i;
    }
    // A doubled quote is dropped whole, inside its own kind of stretch too:
    // "" standing alone still makes an (empty) argument.
    if (i + 1 < line_.size() && line_[i + 1] == c) return i + 1;
    if (stretch_) {
      stretch_.reset();
    } else {
      stretch_ = c;
    }
    return i;
  }

  void end_argument() {
    if (current_) arguments_.push_back(std::move(*current_));
    current_.reset();
  }

  std::string_view line_;
  std::optional<char> stretch_;
  std::optional<std::string> current_;
  std::vector<std::string> arguments_;
};

}  // namespace

std::vector<std::string> split_command_line(std::string_view line) {
  return Splitter(line).split();
}

}  // namespace platform
