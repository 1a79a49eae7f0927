// The in-memory window for tests.
#include "console/grid_sink.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

#include "console/glyphs.h"

namespace console {

GridSink::GridSink(Window window, char untouched)
    : window_(window),
      cells_(static_cast<std::size_t>(window.width * window.height),
             Cell{std::string(1, untouched), 0}) {}

// The text is split again into glyphs so a test sees each cell's own glyph;
// a put that does not fit the row is a fault of the placer, not of the test.
void GridSink::put(int x, int y, std::string_view text, int cells, std::uint8_t attr) {
  if (x < 1 || y < 1 || y > window_.height || x + cells - 1 > window_.width) {
    throw std::logic_error("put outside the window");
  }
  int column = x;
  while (!text.empty()) {
    const Glyph glyph = first_glyph(text, GlyphMode::Utf8);
    at(column, y) = Cell{std::string(glyph.text), attr};
    for (int extra = 1; extra < glyph.cells; ++extra) at(column + extra, y) = Cell{"", attr};
    column += glyph.cells;
    text.remove_prefix(glyph.consumed);
  }
  if (column != x + cells) throw std::logic_error("put with a wrong cell count");
}

void GridSink::scroll_up(std::uint8_t fill_attr) {
  const auto row_cells = static_cast<std::ptrdiff_t>(window_.width);
  std::move(cells_.begin() + row_cells, cells_.end(), cells_.begin());
  std::fill(cells_.end() - row_cells, cells_.end(), Cell{" ", fill_attr});
  ++scrolls_;
}

void GridSink::blank(int x_from, int x_to, int y, std::uint8_t attr) {
  for (int x = x_from; x <= x_to; ++x) at(x, y) = Cell{" ", attr};
}

std::string GridSink::row(int y) const {
  std::string text;
  for (int x = 1; x <= window_.width; ++x) text += at(x, y).glyph;
  return text;
}

std::uint8_t GridSink::attr(int x, int y) const {
  return at(x, y).attr;
}

GridSink::Cell& GridSink::at(int x, int y) {
  return cells_.at(static_cast<std::size_t>((y - 1) * window_.width + (x - 1)));
}

const GridSink::Cell& GridSink::at(int x, int y) const {
  return cells_.at(static_cast<std::size_t>((y - 1) * window_.width + (x - 1)));
}

}  // namespace console
