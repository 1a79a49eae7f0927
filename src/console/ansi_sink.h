// A Sink for terminals that understand ANSI (ECMA-48) control sequences:
// cursor position (CUP), colours (SGR), delete line (DL). The bytes go to a
// ByteStream; what the terminal's cursor and colours are is tracked so that
// no CUP or SGR is sent that would change nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/placer.h"

namespace console {

// Where the bytes of the terminal go. commit() marks the end of one whole
// operation: the bytes up to there leave the terminal in a known state.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  virtual void append(std::string_view bytes) = 0;
  virtual void commit() = 0;
};

// SGR for a PC attribute: foreground 30-37 (90-97 when bright), background
// 40-47 (100-107 with bit 7). The PC numbers blue as 1 and red as 4, ANSI
// the other way round.
std::string sgr(std::uint8_t attr);

class AnsiSink final : public Sink {
 public:
  AnsiSink(Window window, ByteStream& out);

  void put(int x, int y, std::string_view text, int cells, std::uint8_t attr) override;
  void scroll_up(std::uint8_t fill_attr) override;
  void blank(int x_from, int x_to, int y, std::uint8_t attr) override;
  void cursor(int x, int y) override;

  // After something else has written to the terminal or reset it (a stop
  // and continue), its cursor, colours and cells are no longer known.
  void forget_terminal_state();

 private:
  void move_to(int x, int y);
  void use_attr(std::uint8_t attr);
  // The terminal's cursor after cells were written from column x; a write
  // that reaches the right edge leaves it waiting to wrap, so unknown.
  void moved_right(int x, int y, int cells);
  // Cells x to x + cells - 1 of row y no longer hold what they held.
  void overwrote(int x, int y, int cells);

  // What is known to be blank on a row: the cells from `from` to the right
  // edge hold spaces in `attr`; from is past the edge when nothing is known.
  // The walk blanks rows 23 to 25 and the end of row 22 for every directory
  // it enters; rows that are blank already cost nothing to send again.
  struct BlankTail {
    int from;
    std::uint8_t attr;
  };
  BlankTail& tail(int y) { return blank_tails_[static_cast<std::size_t>(y - 1)]; }
  BlankTail unknown() const { return BlankTail{window_.width + 1, 0}; }

  Window window_;
  ByteStream& out_;
  std::optional<Position> terminal_cursor_;
  std::optional<std::uint8_t> terminal_attr_;
  std::vector<BlankTail> blank_tails_;
};

}  // namespace console
