// How the bytes of a text item become glyphs, each one or two cells wide.
// A byte that a terminal would obey (a control, ESC, a C1 control, a byte of
// broken UTF-8) never reaches the screen as it is: it becomes a stand-in.
#pragma once

#include <cstddef>
#include <string_view>

namespace console {

enum class GlyphMode {
  // A terminal in a UTF-8 locale: a character is one glyph of one cell, or
  // two for East Asian wide characters and emoji.
  Utf8,
  // A terminal in any other locale: printable ASCII only, every other byte
  // is a stand-in.
  SingleByte,
  // A console that stores bytes in cells without interpreting them (the
  // system's code page): every byte is its own one-cell glyph, unchanged.
  CodePage,
};

// Shown, one cell wide, in place of what must not be sent.
inline constexpr std::string_view STAND_IN = "?";

struct Glyph {
  std::string_view text;  // display bytes: a slice of the input or STAND_IN
  int cells = 1;
  std::size_t consumed = 1;  // input bytes taken
};

// The first glyph of the non-empty bytes.
Glyph first_glyph(std::string_view bytes, GlyphMode mode);

// One well-formed UTF-8 character at the start of bytes (no overlong form,
// no surrogate, nothing past U+10FFFF); length 0 when there is none.
struct Utf8Char {
  char32_t code_point = 0;
  std::size_t length = 0;
};
Utf8Char decode_utf8(std::string_view bytes);
// The length a UTF-8 character starting with this byte has; 0 when the
// byte cannot start one of several bytes.
std::size_t utf8_length(unsigned char lead);

// Cells a Unicode code point takes on a terminal: 2 wide, 1 normal, 0 for
// combining, zero-width and format characters.
int code_point_cells(char32_t code_point);

// Whether the locale named by the usual variables (the first non-empty of
// LC_ALL, LC_CTYPE, LANG; null counts as empty) uses UTF-8.
bool locale_is_utf8(const char* lc_all, const char* lc_ctype, const char* lang);

}  // namespace console
