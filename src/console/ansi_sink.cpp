// ANSI control sequences for the placer's operations.
#include "console/ansi_sink.h"

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

void AnsiSink::put(int x, int y, std::string_view text, int cells, std::uint8_t attr) {
  use_attr(attr);
  move_to(x, y);
  out_.append(text);
  moved_right(x, y, cells);
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
  blank(1, window_.width, window_.height, fill_attr);
}

void AnsiSink::blank(int x_from, int x_to, int y, std::uint8_t attr) {
  if (x_from > x_to) return;
  use_attr(attr);
  move_to(x_from, y);
  const int cells = x_to - x_from + 1;
  out_.append(std::string(static_cast<std::size_t>(cells), ' '));
  moved_right(x_from, y, cells);
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

void AnsiSink::moved_right(int x, int y, int cells) {
  if (x + cells > window_.width) {
    terminal_cursor_.reset();
  } else {
    terminal_cursor_ = Position{x + cells, y};
  }
}

}  // namespace console
