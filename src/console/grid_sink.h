// A sink that keeps the window's cells in memory, for tests of whatever
// draws through a Placer: the placing rules can be checked cell by cell
// without a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/placer.h"

namespace console {

class GridSink final : public Sink {
 public:
  // Every cell starts as `untouched` in attr 0, so a test can tell the cells
  // that were never written, blanked or scrolled in.
  GridSink(Window window, char untouched = '.');

  void put(int x, int y, std::string_view text, int cells, std::uint8_t attr) override;
  void scroll_up(std::uint8_t fill_attr) override;
  void blank(int x_from, int x_to, int y, std::uint8_t attr) override;
  void cursor(int x, int y) override { cursor_ = {x, y}; }

  // The row's glyphs; the second cell of a wide glyph adds nothing.
  std::string row(int y) const;
  std::uint8_t attr(int x, int y) const;
  Position visible_cursor() const { return cursor_; }
  int scrolls() const { return scrolls_; }

 private:
  struct Cell {
    std::string glyph;
    std::uint8_t attr = 0;
  };
  Cell& at(int x, int y);
  const Cell& at(int x, int y) const;

  Window window_;
  std::vector<Cell> cells_;
  Position cursor_;
  int scrolls_ = 0;
};

}  // namespace console
