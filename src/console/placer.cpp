// The placing rules, the same on every platform.
#include "console/placer.h"

namespace console {

namespace {

constexpr std::uint8_t CR = 13;
constexpr std::uint8_t LF = 10;
constexpr std::uint8_t BS = 8;
constexpr std::uint8_t BEL = 7;

}  // namespace

Placer::Placer(Sink& sink, Window window, Position cursor, std::uint8_t attr, GlyphMode mode)
    : sink_(sink), window_(window), cursor_(cursor), attr_(attr), mode_(mode) {}

void Placer::gotoxy(int x, int y) {
  if (x < 1 || x > window_.width || y < 1 || y > window_.height) return;
  cursor_ = {x, y};
  show_cursor();
}

void Placer::clreol() {
  sink_.blank(cursor_.x, window_.width, cursor_.y, attr_);
  show_cursor();
}

void Placer::statement(std::initializer_list<Item> items, bool line_end) {
  for (const Item& item : items) place_text(item.text());
  if (line_end) {
    place_control(CR);
    place_control(LF);
  }
  send_run();
  show_cursor();
}

void Placer::place_text(std::string_view text) {
  while (!text.empty()) {
    const Glyph glyph = first_glyph(text, mode_);
    place_glyph(glyph);
    text.remove_prefix(glyph.consumed);
  }
}

void Placer::place_control(std::uint8_t byte) {
  switch (byte) {
    case CR:
      send_run();
      cursor_.x = 1;
      break;
    case LF:
      send_run();
      line_feed();
      break;
    case BS:
      send_run();
      if (cursor_.x > 1) --cursor_.x;
      break;
    case BEL:
      break;
    default: {
      const char c = static_cast<char>(byte);
      place_text(std::string_view(&c, 1));
    }
  }
}

void Placer::show_cursor() {
  send_run();
  sink_.cursor(cursor_.x, cursor_.y);
}

// A wide glyph that finds one cell left on the row leaves that cell blank
// and goes to the next row; one wider than the whole window is a stand-in.
void Placer::place_glyph(const Glyph& glyph) {
  if (glyph.cells > window_.width) {
    place_glyph(Glyph{STAND_IN, 1, glyph.consumed});
    return;
  }
  if (cursor_.x + glyph.cells - 1 > window_.width) place_glyph(Glyph{" ", 1, 0});
  if (run_cells_ == 0) run_start_ = cursor_;
  run_text_ += glyph.text;
  run_cells_ += glyph.cells;
  advance(glyph.cells);
}

// Past the right edge the cursor goes at once to the next row's left column,
// so a line exactly as wide as the window followed by a line end leaves the
// row below untouched.
void Placer::advance(int cells) {
  cursor_.x += cells;
  if (cursor_.x > window_.width) {
    send_run();
    cursor_.x = 1;
    line_feed();
  }
}

void Placer::line_feed() {
  if (cursor_.y < window_.height) {
    ++cursor_.y;
  } else {
    sink_.scroll_up(attr_);
  }
}

void Placer::send_run() {
  if (run_cells_ == 0) return;
  sink_.put(run_start_.x, run_start_.y, run_text_, run_cells_, attr_);
  run_text_.clear();
  run_cells_ = 0;
}

}  // namespace console
