// The placing rules, checked cell by cell on an in-memory window.
#include "console/placer.h"

#include <gtest/gtest.h>

#include <string>

#include "console/grid_sink.h"

namespace console {
namespace {

constexpr std::uint8_t GREY_ON_BLACK = 0x07;

std::string untouched(int cells) {
  return std::string(static_cast<std::size_t>(cells), '.');
}
std::string blanks(int cells) {
  return std::string(static_cast<std::size_t>(cells), ' ');
}

// A text of n letters "abc...zabc...", so every cell tells where it came from.
std::string letters(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

struct Screen {
  explicit Screen(Window window, Position cursor = {1, 1}, GlyphMode mode = GlyphMode::Utf8)
      : grid(window), placer(grid, window, cursor, GREY_ON_BLACK, mode) {}
  GridSink grid;
  Placer placer;
};

void expect_cursor(const Screen& screen, int x, int y) {
  EXPECT_EQ(screen.placer.where().x, x);
  EXPECT_EQ(screen.placer.where().y, y);
  EXPECT_EQ(screen.grid.visible_cursor().x, x) << "visible cursor";
  EXPECT_EQ(screen.grid.visible_cursor().y, y) << "visible cursor";
}

TEST(Placer, WriteLineAfterGotoLeavesTheCursorInColumnOneOfTheNextRow) {
  Screen screen({80, 25}, {30, 3});
  screen.placer.gotoxy(1, 21);
  screen.placer.statement({"Col Dir - ", 5}, true);
  expect_cursor(screen, 1, 22);
  EXPECT_EQ(screen.grid.row(21), "Col Dir - 5" + untouched(69));
  EXPECT_EQ(screen.grid.row(22), untouched(80));
}

TEST(Placer, GotoOutsideTheWindowLeavesTheCursorAndTheTextGoesThere) {
  for (const Position outside :
       {Position{1, 21}, Position{0, 5}, Position{81, 5}, Position{3, 0}}) {
    Screen screen({80, 20}, {7, 4});
    screen.placer.gotoxy(outside.x, outside.y);
    screen.placer.statement({"T"}, false);
    EXPECT_EQ(screen.grid.row(4), untouched(6) + "T" + untouched(73));
    expect_cursor(screen, 8, 4);
  }
}

TEST(Placer, NinetyCharactersWrapAndClreolBlanksTheRestOfTheSecondRow) {
  Screen screen({80, 25});
  screen.placer.gotoxy(1, 22);
  screen.placer.statement({letters(90)}, false);
  EXPECT_EQ(screen.grid.row(22), letters(80));
  EXPECT_EQ(screen.grid.row(23), letters(90).substr(80) + untouched(70));
  expect_cursor(screen, 11, 23);

  screen.placer.clreol();
  EXPECT_EQ(screen.grid.row(23), letters(90).substr(80) + blanks(70));
  EXPECT_EQ(screen.grid.attr(11, 23), GREY_ON_BLACK);
  EXPECT_EQ(screen.grid.attr(80, 23), GREY_ON_BLACK);
  EXPECT_EQ(screen.grid.row(24), untouched(80));
  expect_cursor(screen, 11, 23);
}

TEST(Placer, LineEndOnTheBottomRowScrollsAndLeavesABlankGreyOnBlackRow) {
  Screen screen({80, 25}, {1, 25});
  screen.placer.gotoxy(1, 24);
  screen.placer.statement({"above"}, true);
  screen.placer.statement({"last"}, true);
  EXPECT_EQ(screen.grid.scrolls(), 1);
  EXPECT_EQ(screen.grid.row(23), "above" + untouched(75));
  EXPECT_EQ(screen.grid.row(24), "last" + untouched(76));
  EXPECT_EQ(screen.grid.row(25), blanks(80));
  for (int x = 1; x <= 80; ++x) EXPECT_EQ(screen.grid.attr(x, 25), GREY_ON_BLACK);
  expect_cursor(screen, 1, 25);
}

TEST(Placer, ALineExactlyAsWideAsTheWindowAndALineEndLeaveTheRowBelowUntouched) {
  Screen screen({80, 25}, {1, 5});
  screen.placer.statement({letters(80)}, true);
  EXPECT_EQ(screen.grid.row(5), letters(80));
  EXPECT_EQ(screen.grid.row(6), untouched(80));
  expect_cursor(screen, 1, 7);
}

// The scanning text starts in column 1 of row 22 of an 80 x 25 window.
TEST(Placer, ScanningTextOfUpTo319CharactersStaysInRows22To25) {
  struct Case {
    int length;
    int scrolls;
    Position cursor;
  };
  for (const Case c : {Case{319, 0, {80, 25}}, Case{320, 1, {1, 25}}, Case{330, 1, {11, 25}}}) {
    SCOPED_TRACE(c.length);
    Screen screen({80, 25});
    screen.placer.gotoxy(1, 21);
    screen.placer.statement({"tally"}, true);
    screen.placer.statement({letters(c.length)}, false);
    EXPECT_EQ(screen.grid.scrolls(), c.scrolls);
    expect_cursor(screen, c.cursor.x, c.cursor.y);
    // The tally line moves up with every scroll.
    EXPECT_EQ(screen.grid.row(21 - c.scrolls), "tally" + untouched(75));
    EXPECT_EQ(screen.grid.row(22 - c.scrolls), letters(80));
  }
}

TEST(Placer, ControlMovesOfThePlacingRules) {
  struct Case {
    std::string bytes;  // placed with place_control, one byte each
    Position cursor;
  };
  const Case cases[] = {
      {"\r", {1, 3}},          // CR: left column, same row
      {"\n", {5, 4}},          // LF: one row down, same column
      {"\b", {4, 3}},          // BS: one column left
      {"\b\b\b\b\b", {1, 3}},  // BS stops at the left column
      {"\a", {5, 3}},          // BEL: nothing
  };
  for (const Case& c : cases) {
    Screen screen({80, 25}, {5, 3});
    for (const char byte : c.bytes) screen.placer.place_control(static_cast<std::uint8_t>(byte));
    screen.placer.show_cursor();
    EXPECT_EQ(screen.placer.where().x, c.cursor.x) << c.bytes.size();
    EXPECT_EQ(screen.placer.where().y, c.cursor.y) << c.bytes.size();
    EXPECT_EQ(screen.grid.row(3), untouched(80)) << "a move erases nothing";
  }
}

TEST(Placer, BackspaceMovesWithoutErasingAndTheNextGlyphOverwrites) {
  Screen screen({80, 25});
  screen.placer.place_text("abc");
  screen.placer.place_control(8);
  screen.placer.place_text("X");
  screen.placer.show_cursor();
  EXPECT_EQ(screen.grid.row(1), "abX" + untouched(77));
}

TEST(Placer, EveryWrittenCellTakesTheCurrentAttribute) {
  Screen screen({80, 25});
  screen.placer.text_background(1);
  screen.placer.text_colour(14);
  screen.placer.statement({"hi"}, false);
  screen.placer.text_colour(7);
  screen.placer.text_background(0);
  screen.placer.statement({"!"}, false);
  EXPECT_EQ(screen.grid.attr(1, 1), 0x1E);
  EXPECT_EQ(screen.grid.attr(2, 1), 0x1E);
  EXPECT_EQ(screen.grid.attr(3, 1), GREY_ON_BLACK);
  EXPECT_EQ(screen.grid.attr(4, 1), 0) << "untouched";
}

TEST(Placer, ControlBytesOfAnItemAreStandInsAndNeverMoves) {
  Screen screen({80, 25}, {1, 2});
  screen.placer.statement({"a\nb\rc\x1b[2Jd\a\be"}, false);
  EXPECT_EQ(screen.grid.row(2), "a?b?c?[2Jd??e" + untouched(67));
  expect_cursor(screen, 14, 2);
}

TEST(Placer, WideGlyphTakesTwoCellsAndMovesToTheNextRowWhenOneCellIsLeft) {
  struct Case {
    std::string text;
    std::string row1, row2;
    Position cursor;
  };
  const Case cases[] = {
      {"12345678\xe4\xb8\xad", "12345678\xe4\xb8\xad", "..........", {1, 2}},
      {"123456789\xe4\xb8\xad", "123456789 ", "\xe4\xb8\xad........", {3, 2}},
      {"\xf0\x9f\x98\x80x", "\xf0\x9f\x98\x80x.......", "..........", {4, 1}},
  };
  for (const Case& c : cases) {
    Screen screen({10, 5});
    screen.placer.statement({c.text}, false);
    EXPECT_EQ(screen.grid.row(1), c.row1);
    EXPECT_EQ(screen.grid.row(2), c.row2);
    expect_cursor(screen, c.cursor.x, c.cursor.y);
  }
}

TEST(Placer, WideGlyphInAOneColumnWindowIsAStandIn) {
  Screen screen({1, 3});
  screen.placer.statement({"\xe4\xb8\xad"}, false);
  EXPECT_EQ(screen.grid.row(1), "?");
  expect_cursor(screen, 1, 2);
}

TEST(Placer, NumbersArePlainDecimal) {
  Screen screen({80, 25});
  screen.placer.statement({0, " ", -2147483647 - 1, " ", 2147483647}, false);
  EXPECT_EQ(screen.grid.row(1), "0 -2147483648 2147483647" + untouched(56));
}

TEST(Colours, BackgroundAndColourSetTheirOwnBits) {
  struct Case {
    std::uint8_t attr;
    int background, colour;
    std::uint8_t expected;
  };
  const Case cases[] = {
      {0x00, 0, 7, 0x07},    {0xFF, 0, 7, 0x07},
      {0x4E, 0, 7, 0x07},    {0x07, 0xFF, 7, 0x77},  // background: low three bits only
      {0x07, 1, 0x8F, 0x9F},                         // colour: bits 0-3 and bit 7
      {0x80, 2, 4, 0x24},                            // colour clears a bright background
      {0x13, 9, 0x10, 0x10},                         // 9 is 1; the colour's bits 4-6 are ignored
  };
  for (const Case& c : cases) {
    EXPECT_EQ(with_colour(with_background(c.attr, c.background), c.colour), c.expected)
        << int(c.attr) << " " << c.background << " " << c.colour;
  }
}

}  // namespace
}  // namespace console
