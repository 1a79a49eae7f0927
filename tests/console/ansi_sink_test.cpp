// The bytes a terminal receives for the placer's operations.
#include "console/ansi_sink.h"

#include <gtest/gtest.h>

#include <string>

namespace console {
namespace {

class Recorded final : public ByteStream {
 public:
  void append(std::string_view bytes) override { bytes_ += bytes; }
  void commit() override { committed_ = bytes_.size(); }
  // What was sent since the last call.
  std::string take() {
    std::string taken = bytes_;
    bytes_.clear();
    committed_ = 0;
    return taken;
  }
  std::size_t committed() const { return committed_; }
  std::size_t size() const { return bytes_.size(); }

 private:
  std::string bytes_;
  std::size_t committed_ = 0;
};

TEST(Sgr, PcColoursInAnsiOrder) {
  struct Case {
    std::uint8_t attr;
    const char* sgr;
  };
  const Case cases[] = {
      {0x07, "\x1b[0;37;40m"},   // light grey on black
      {0x01, "\x1b[0;34;40m"},   // PC blue is ANSI 4
      {0x04, "\x1b[0;31;40m"},   // PC red is ANSI 1
      {0x06, "\x1b[0;33;40m"},   // brown: red and green
      {0x1E, "\x1b[0;93;44m"},   // yellow on blue
      {0x0F, "\x1b[0;97;40m"},   // white
      {0x40, "\x1b[0;30;41m"},   // black on red
      {0xC1, "\x1b[0;34;101m"},  // bit 7: bright background
      {0xF8, "\x1b[0;90;107m"},
  };
  for (const Case& c : cases) EXPECT_EQ(sgr(c.attr), c.sgr) << int(c.attr);
}

struct Terminal {
  Recorded out;
  AnsiSink sink{Window{80, 25}, out};
};

TEST(AnsiSink, SendsNoCursorOrColourThatWouldChangeNothing) {
  Terminal t;
  t.sink.put(1, 21, "Col", 3, 0x07);
  EXPECT_EQ(t.out.take(), "\x1b[0;37;40m\x1b[21;1HCol");
  t.sink.put(4, 21, " Dir", 4, 0x07);
  t.sink.cursor(8, 21);
  EXPECT_EQ(t.out.take(), " Dir");
  t.sink.put(8, 21, "!", 1, 0x1E);
  EXPECT_EQ(t.out.take(), "\x1b[0;93;44m!");
  t.sink.cursor(1, 22);
  EXPECT_EQ(t.out.take(), "\x1b[22;1H");
}

// A cell in the last column leaves the terminal waiting to wrap, so where
// its cursor stands is not known afterwards.
TEST(AnsiSink, PositionsAfreshAfterTheRightEdge) {
  Terminal t;
  t.sink.put(79, 3, "ab", 2, 0x07);
  t.out.take();
  t.sink.put(1, 4, "c", 1, 0x07);
  EXPECT_EQ(t.out.take(), "\x1b[4;1Hc");
}

TEST(AnsiSink, BlanksWithSpacesAndPutsTheCursorBack) {
  Terminal t;
  t.sink.cursor(11, 23);
  t.out.take();
  t.sink.blank(11, 80, 23, 0x07);
  t.sink.cursor(11, 23);
  EXPECT_EQ(t.out.take(), "\x1b[0;37;40m" + std::string(70, ' ') + "\x1b[23;11H");
}

// The scroll deletes the top row inside a region of the window's rows and
// blanks the new bottom row itself; nothing reaches the scroll-back.
TEST(AnsiSink, ScrollsTheWindowByDeletingItsTopRow) {
  Terminal t;
  t.sink.scroll_up(0x07);
  t.sink.cursor(1, 25);
  EXPECT_EQ(t.out.take(),
            "\x1b[1;25r\x1b[M\x1b[r\x1b[0;37;40m\x1b[25;1H" + std::string(80, ' ') + "\x1b[25;1H");
}

// Rows the sink blanked itself are not blanked again; what was written
// over part of such a row is.
TEST(AnsiSink, BlanksOnlyWhatIsNotKnownToBeBlankAlready) {
  Terminal t;
  t.sink.blank(1, 80, 23, 0x07);
  t.out.take();
  t.sink.blank(1, 80, 23, 0x07);
  t.sink.blank(40, 80, 23, 0x07);
  EXPECT_EQ(t.out.take(), "");
  t.sink.put(1, 23, "abcde", 5, 0x07);
  t.out.take();
  t.sink.blank(3, 80, 23, 0x07);
  EXPECT_EQ(t.out.take(), "\x1b[23;3H   ");
  t.sink.blank(1, 80, 23, 0x1F);
  EXPECT_EQ(t.out.take(), "\x1b[0;97;44m\x1b[23;1H" + std::string(80, ' '));
}

TEST(AnsiSink, WhatIsBlankMovesUpWithAScrollAndIsForgottenAfterAStop) {
  Terminal t;
  t.sink.blank(1, 80, 25, 0x07);
  t.sink.scroll_up(0x07);
  t.out.take();
  t.sink.blank(1, 80, 24, 0x07);
  t.sink.blank(1, 80, 25, 0x07);
  EXPECT_EQ(t.out.take(), "");
  t.sink.forget_terminal_state();
  t.sink.blank(1, 80, 25, 0x07);
  EXPECT_EQ(t.out.take(), "\x1b[0;37;40m\x1b[25;1H" + std::string(80, ' '));
}

TEST(AnsiSink, EveryOperationIsCommittedWhenItsCursorIsPlaced) {
  Terminal t;
  t.sink.put(1, 1, "abc", 3, 0x07);
  EXPECT_EQ(t.out.committed(), 0u);
  t.sink.cursor(4, 1);
  EXPECT_EQ(t.out.committed(), t.out.size());
}

TEST(AnsiSink, ForgetsTheTerminalAfterAStop) {
  Terminal t;
  t.sink.put(1, 1, "a", 1, 0x07);
  t.out.take();
  t.sink.forget_terminal_state();
  t.sink.put(2, 1, "b", 1, 0x07);
  EXPECT_EQ(t.out.take(), "\x1b[0;37;40m\x1b[1;2Hb");
}

}  // namespace
}  // namespace console
