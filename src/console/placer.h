// The window model shared by every platform: it applies the placing rules
// (CR, LF, BS, BEL, glyphs into cells, wrap at the right edge, scroll past
// the bottom row, GOTOXY, CLREOL) to a window with a cursor and TEXTATTR,
// and tells a Sink what to draw. It never keeps the screen's cells: what was
// on the screen at start-up is unknown and stays untouched until written.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/glyphs.h"

namespace console {

// What a platform draws with. Columns and rows count from 1 at the window's
// top-left cell; every call stays inside the window.
class Sink {
 public:
  virtual ~Sink() = default;
  // Draws text, which covers exactly `cells` cells of row y from column x
  // rightwards (never past the right edge), every cell in attr. The text is
  // already made of display glyphs: no byte of it is a control.
  virtual void put(int x, int y, std::string_view text, int cells, std::uint8_t attr) = 0;
  // Moves rows 2 to the last up one row; the top row's contents are lost,
  // the bottom row becomes spaces in fill_attr. Nothing goes to scroll-back.
  virtual void scroll_up(std::uint8_t fill_attr) = 0;
  // Gives cells x_from to x_to of row y a space and attr.
  virtual void blank(int x_from, int x_to, int y, std::uint8_t attr) = 0;
  // Where the visible cursor must stand once the current operation is done.
  virtual void cursor(int x, int y) = 0;
};

// A sink for a console that cannot be written: standard output is a file or
// a pipe, so every output, cursor and blanking operation does nothing.
class NullSink final : public Sink {
 public:
  void put(int, int, std::string_view, int, std::uint8_t) override {}
  void scroll_up(std::uint8_t) override {}
  void blank(int, int, int, std::uint8_t) override {}
  void cursor(int, int) override {}
};

struct Window {
  int width = 80;
  int height = 25;
};

struct Position {
  int x = 1;
  int y = 1;
};

// TEXTBACKGROUND: bits 4-6 from the low three bits of background.
constexpr std::uint8_t with_background(std::uint8_t attr, int background) {
  return static_cast<std::uint8_t>((attr & 0x8F) | ((background & 0x07) << 4));
}
// TEXTCOLOR: bits 0-3 and bit 7 from the same bits of colour.
constexpr std::uint8_t with_colour(std::uint8_t attr, int colour) {
  return static_cast<std::uint8_t>((attr & 0x70) | (colour & 0x8F));
}

class Placer {
 public:
  Placer(Sink& sink, Window window, Position cursor, std::uint8_t attr, GlyphMode mode);

  Window window() const { return window_; }
  Position where() const { return cursor_; }
  std::uint8_t attr() const { return attr_; }
  GlyphMode mode() const { return mode_; }

  void text_background(int background) { attr_ = with_background(attr_, background); }
  void text_colour(int colour) { attr_ = with_colour(attr_, colour); }

  // Does nothing when x or y lies outside the window.
  void gotoxy(int x, int y);
  // Blanks from the cursor to the right edge; the cursor stays.
  void clreol();
  // A write statement (line_end false) or a write-line statement (true):
  // the items' bytes become glyphs, a write-line adds the moves CR and LF;
  // the visible cursor is put at the position reached.
  void statement(std::initializer_list<Item> items, bool line_end);

  // The pieces a statement is made of, for whoever places text another way.
  // Every byte of text becomes a glyph: a control byte is shown as a
  // stand-in, never obeyed.
  void place_text(std::string_view text);
  // CR to the left column, LF one row down, BS one column left (not past
  // the left column), BEL nothing; any other byte is placed as text.
  void place_control(std::uint8_t byte);
  // Tells the sink where the visible cursor stands now.
  void show_cursor();

 private:
  void place_glyph(const Glyph& glyph);
  void advance(int cells);
  void line_feed();
  void send_run();

  Sink& sink_;
  Window window_;
  Position cursor_;
  std::uint8_t attr_;
  GlyphMode mode_;
  // Glyphs placed on one row since the last move, sent as one put().
  Position run_start_;
  std::string run_text_;
  int run_cells_ = 0;
};

}  // namespace console
