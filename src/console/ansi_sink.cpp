// ANSI control sequences for the placer's operations.
#include "console/ansi_sink.h"

#include <algorithm>
#include <string>

namespace console {

namespace {

// ANSI colour index of a PC colour's low three bits: blue and red swap.
int ansi_colour(int pc_colour) {
  return ((pc_colour & 1) << 2) | (pc_colour & 2) | ((pc_colour & 4) >> 2);
}

}  // namespace

std::string sgr(std::uint8_t attr) {
  const int foreground = ansi_colour(attr & 7) + ((attr & 0x08) != 0 ? 90 : 30);
  const int background = ansi_colour((attr >> 4) & 7) + ((attr & 0x80) != 0 ? 100 : 40);
  return "\x1b[0;" + std::to_string(foreground) + ';' + std::to_string(background) + 'm';
}

AnsiSink::AnsiSink(Window window, ByteStream& out)
    : window_(window),
      out_(out),
      blank_tails_(static_cast<std::size_t>(window.height), unknown()) {}

void AnsiSink::put(int x, int y, std::string_view text, int cells, std::uint8_t attr) {
  use_attr(attr);
  move_to(x, y);
  out_.append(text);
  moved_right(x, y, cells);
  overwrote(x, y, cells);
}

// Within a scrolling region of the window's rows, deleting the top row moves
// the rows below it up without handing anything to the terminal's
// scroll-back, as a line feed on the bottom row would, and leaves any rows
// below the window alone. Setting and resetting the region both put the
// terminal's cursor home. The new bottom row is blanked explicitly: not
// every terminal fills it with the current background.
void AnsiSink::scroll_up(std::uint8_t fill_attr) {
  out_.append("\x1b[1;" + std::to_string(window_.height) + "r\x1b[M\x1b[r");
  terminal_cursor_ = Position{1, 1};
  std::rotate(blank_tails_.begin(), blank_tails_.begin() + 1, blank_tails_.end());
  blank_tails_.back() = unknown();
  blank(1, window_.width, window_.height, fill_attr);
}

// Blanking to the right edge sends only the cells not known to be blank in
// the same attribute already.
void AnsiSink::blank(int x_from, int x_to, int y, std::uint8_t attr) {
  BlankTail& known = tail(y);
  const bool to_edge = x_to == window_.width;
  if (to_edge && known.attr == attr) x_to = std::min(x_to, known.from - 1);
  if (x_from > x_to) return;
  use_attr(attr);
  move_to(x_from, y);
  const int cells = x_to - x_from + 1;
  out_.append(std::string(static_cast<std::size_t>(cells), ' '));
  moved_right(x_from, y, cells);
  if (to_edge) {
    known = BlankTail{x_from, attr};
  } else {
    overwrote(x_from, y, cells);
  }
}

// Each placer operation ends here, so the terminal is left in a known state
// at every commit: a stop report written after it starts at this cursor.
void AnsiSink::cursor(int x, int y) {
  move_to(x, y);
  out_.commit();
}

void AnsiSink::forget_terminal_state() {
  terminal_cursor_.reset();
  terminal_attr_.reset();
  std::fill(blank_tails_.begin(), blank_tails_.end(), unknown());
}

void AnsiSink::move_to(int x, int y) {
  if (terminal_cursor_ && terminal_cursor_->x == x && terminal_cursor_->y == y) return;
  out_.append("\x1b[" + std::to_string(y) + ';' + std::to_string(x) + 'H');
  terminal_cursor_ = Position{x, y};
}

void AnsiSink::use_attr(std::uint8_t attr) {
  if (terminal_attr_ == attr) return;
  out_.append(sgr(attr));
  terminal_attr_ = attr;
}

void AnsiSink::overwrote(int x, int y, int cells) {
  BlankTail& known = tail(y);
  if (x + cells > known.from) known.from = x + cells;
}

void AnsiSink::moved_right(int x, int y, int cells) {
  if (x + cells > window_.width) {
    terminal_cursor_.reset();
  } else {
    terminal_cursor_ = Position{x + cells, y};
  }
}

}  // namespace console
