// Key codes from what a terminal sends. The decoder is a pure function of
// the bytes it is fed and the time they were read: it needs no terminal.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace console {

// One key press: a character code, or an extended key that gives 0 and then
// its key code (the PC scan code remapped by modifier).
struct Key {
  std::uint8_t code = 0;
  bool extended = false;
  bool operator==(const Key&) const = default;
};

class KeyDecoder {
 public:
  // How long an ESC waits for the rest of a sequence before it counts as
  // the Esc key; bytes read later than this belong to another press.
  static constexpr std::int64_t ESC_WAIT_MS = 50;

  // utf8: a UTF-8 character of several bytes is one press.
  explicit KeyDecoder(bool utf8) : utf8_(utf8) {}

  // Bytes read from the terminal at now_ms (any clock in milliseconds).
  void push(std::string_view bytes, std::int64_t now_ms);
  // The next whole key press, if one is complete at now_ms. An unknown
  // sequence is swallowed whole: none of its bytes become keys.
  std::optional<Key> next(std::int64_t now_ms);
  // Bytes of a press not yet complete (the start of an escape sequence or
  // of a character) wait until this time for the rest; nullopt when every
  // byte fed so far makes whole presses.
  std::optional<std::int64_t> unfinished_until();

 private:
  // Moves every whole press at the front of pending_ to ready_; waited: no
  // byte came for ESC_WAIT_MS, so an unfinished sequence is all there is.
  void decode_pending(bool waited);

  bool utf8_;
  std::string pending_;
  std::int64_t last_push_ms_ = 0;
  std::deque<Key> ready_;
};

// The held-code rule: at most one code waits for READKEY. KEYPRESSED takes
// the oldest typed key when none is held; an extended key's 0 is held
// first, then its key code, however long the program takes in between.
// Keys typed ahead wait in order, never discarded.
class HeldKey {
 public:
  void typed(Key key);
  // KEYPRESSED: true at once while a code is held.
  bool pressed();
  // READKEY's result once pressed() is true: the held code, given up.
  std::uint8_t take();

 private:
  std::optional<std::uint8_t> held_;
  std::deque<std::uint8_t> typed_ahead_;
};

// The terminal's answer to the cursor position query (ESC [ row ; column R)
// found in bytes read from the keyboard; the bytes around it are keys.
struct PositionReport {
  int row = 0;
  int column = 0;
  std::size_t begin = 0;  // where the answer starts in the bytes
  std::size_t end = 0;    // one past its last byte
};
std::optional<PositionReport> find_position_report(std::string_view bytes);

}  // namespace console
