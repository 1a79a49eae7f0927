// Which bytes become which glyphs, and how wide they are.
#include "console/glyphs.h"

#include <gtest/gtest.h>

#include <string>

namespace console {
namespace {

struct Shown {
  std::string text;
  int cells = 0;
};

Shown shown(std::string_view bytes, GlyphMode mode) {
  Shown result;
  while (!bytes.empty()) {
    const Glyph glyph = first_glyph(bytes, mode);
    result.text += glyph.text;
    result.cells += glyph.cells;
    bytes.remove_prefix(glyph.consumed);
  }
  return result;
}

struct Case {
  const char* name;
  std::string bytes;
  std::string utf8;         // shown on a UTF-8 terminal
  std::string single_byte;  // shown on a terminal of another locale
  int utf8_cells;
};

// Every byte a terminal would obey is a stand-in; the code page keeps all.
const Case CASES[] = {
    {"printable", "Thumbs.db", "Thumbs.db", "Thumbs.db", 9},
    {"escape sequence", "\x1b[31mred", "?[31mred", "?[31mred", 8},
    {"newline and CR", "a\nb\r", "a?b?", "a?b?", 4},
    {"NUL TAB DEL", std::string("\0\t\x7f", 3), "???", "???", 3},
    {"C1 CSI in UTF-8",
     "\xc2\x9b"
     "2J",
     "?2J", "??2J", 3},
    {"raw C1 byte",
     "\x9b"
     "2J",
     "?2J", "?2J", 3},
    {"latin small e acute", "caf\xc3\xa9", "caf\xc3\xa9", "caf??", 4},
    {"CJK wide", "\xe4\xb8\xad\xe6\x96\x87", "\xe4\xb8\xad\xe6\x96\x87", "??????", 4},
    {"emoji wide", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", "????", 2},
    {"combining mark", "e\xcc\x81", "e?", "e??", 2},
    {"right-to-left override",
     "\xe2\x80\xae"
     "abc",
     "?abc", "???abc", 4},
    {"cut-off character", "\xe4\xb8", "??", "??", 2},
    {"overlong slash", "\xc0\xaf", "??", "??", 2},
    {"surrogate", "\xed\xa0\x80", "???", "???", 3},
    {"past U+10FFFF", "\xf4\x90\x80\x80", "????", "????", 4},
    {"stray continuation", "\x80x", "?x", "?x", 2},
};

TEST(Glyphs, StandInsAndWidths) {
  for (const Case& c : CASES) {
    SCOPED_TRACE(c.name);
    const Shown utf8 = shown(c.bytes, GlyphMode::Utf8);
    EXPECT_EQ(utf8.text, c.utf8);
    EXPECT_EQ(utf8.cells, c.utf8_cells);
    const Shown single = shown(c.bytes, GlyphMode::SingleByte);
    EXPECT_EQ(single.text, c.single_byte);
    EXPECT_EQ(single.cells, static_cast<int>(c.single_byte.size()));
    const Shown code_page = shown(c.bytes, GlyphMode::CodePage);
    EXPECT_EQ(code_page.text, c.bytes);
    EXPECT_EQ(code_page.cells, static_cast<int>(c.bytes.size()));
  }
}

TEST(Glyphs, CodePointCells) {
  struct Width {
    char32_t code_point;
    int cells;
  };
  for (const Width w : {Width{'A', 1}, Width{0xE9, 1}, Width{0x0301, 0}, Width{0x200D, 0},
                        Width{0x1100, 2}, Width{0x3000, 2}, Width{0x303F, 1}, Width{0xAC00, 2},
                        Width{0xFF21, 2}, Width{0xFF61, 1}, Width{0x1F600, 2}, Width{0x1F3FB, 0},
                        Width{0x20000, 2}, Width{0xFE0F, 0}, Width{0x2603, 1}}) {
    EXPECT_EQ(code_point_cells(w.code_point), w.cells) << std::hex << int(w.code_point);
  }
}

TEST(Glyphs, LocaleCodeset) {
  struct Locale {
    const char* lc_all;
    const char* lc_ctype;
    const char* lang;
    bool utf8;
  };
  const Locale cases[] = {
      {nullptr, nullptr, "en_US.UTF-8", true},
      {nullptr, nullptr, "C.utf8", true},
      {"", "", "de_DE.utf-8@euro", true},
      {nullptr, "UTF-8", nullptr, true},     // a codeset alone, as some systems set it
      {"C", nullptr, "en_US.UTF-8", false},  // LC_ALL counts first
      {nullptr, "POSIX", "en_US.UTF-8", false},
      {nullptr, nullptr, "en_US.ISO-8859-1", false},
      {nullptr, nullptr, "ru_RU.KOI8-R", false},
      {nullptr, nullptr, nullptr, false},
      {"", "", "", false},
  };
  for (const Locale& l : cases) {
    EXPECT_EQ(locale_is_utf8(l.lc_all, l.lc_ctype, l.lang), l.utf8)
        << (l.lc_all ? l.lc_all : "-") << " " << (l.lc_ctype ? l.lc_ctype : "-") << " "
        << (l.lang ? l.lang : "-");
  }
}

}  // namespace
}  // namespace console
