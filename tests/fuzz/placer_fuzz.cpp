// Fuzz target: the window model driven by any sequence of operations, drawn
// into a GridSink through a sink that checks every call: the cursor always
// stays inside the window and no cell outside it is ever drawn, blanked or
// scrolled in.
#include <cstddef>
#include <cstdint>
#include <string>

#include "console/grid_sink.h"
#include "console/placer.h"
#include "fuzz_check.h"

namespace {

using console::Window;

bool inside(const Window& window, int x, int y) {
  return x >= 1 && x <= window.width && y >= 1 && y <= window.height;
}

// Checks each call against the window, then draws it into the grid.
class CheckingSink final : public console::Sink {
 public:
  explicit CheckingSink(Window window) : window_(window), grid_(window) {}

  void put(int x, int y, std::string_view text, int cells, std::uint8_t attr) override {
    FUZZ_CHECK(cells >= 1 && inside(window_, x, y) && inside(window_, x + cells - 1, y));
    FUZZ_CHECK(!text.empty());
    grid_.put(x, y, text, cells, attr);
  }
  void scroll_up(std::uint8_t fill_attr) override { grid_.scroll_up(fill_attr); }
  void blank(int x_from, int x_to, int y, std::uint8_t attr) override {
    FUZZ_CHECK(x_from <= x_to && inside(window_, x_from, y) && inside(window_, x_to, y));
    grid_.blank(x_from, x_to, y, attr);
  }
  void cursor(int x, int y) override {
    FUZZ_CHECK(inside(window_, x, y));
    grid_.cursor(x, y);
  }

 private:
  Window window_;
  console::GridSink grid_;
};

// Reads the operations' arguments from the input, 0 once it is used up.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool more() const { return at_ < size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  // A coordinate, out of the window now and then.
  int coordinate() { return static_cast<int>(byte()) - 8; }
  std::string text() {
    std::string bytes;
    for (std::size_t length = byte() % 48; length > 0 && more(); --length) {
      bytes += static_cast<char>(byte());
    }
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void operate(console::Placer& placer, Input& input) {
  switch (input.byte() % 8) {
    case 0: {
      const int x = input.coordinate();
      placer.gotoxy(x, input.coordinate());
      break;
    }
    case 1:
      placer.clreol();
      break;
    case 2:
    case 3: {
      const std::string text = input.text();
      const auto number = static_cast<std::int32_t>(input.byte() * 0x01010101u);
      placer.statement({text, number}, input.byte() % 2 == 0);
      break;
    }
    case 4:
      placer.place_control(input.byte());
      placer.show_cursor();
      break;
    case 5:
      placer.place_text(input.text());
      placer.show_cursor();
      break;
    case 6:
      placer.text_background(input.byte());
      break;
    default:
      placer.text_colour(input.byte());
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const Window window{1 + input.byte() % 120, 1 + input.byte() % 40};
  const auto mode =
      input.byte() % 2 == 0 ? console::GlyphMode::Utf8 : console::GlyphMode::SingleByte;
  const console::Position start{1 + input.byte() % window.width, 1 + input.byte() % window.height};
  CheckingSink sink(window);
  console::Placer placer(sink, window, start, 7, mode);
  while (input.more()) {
    operate(placer, input);
    FUZZ_CHECK(inside(window, placer.where().x, placer.where().y));
  }
  return 0;
}
