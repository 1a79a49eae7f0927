// Glyph segmentation and cell widths, the same on every platform.
#include "console/glyphs.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace console {

namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// East Asian Wide and Fullwidth characters and the emoji shown two cells
// wide, as terminals count them.
constexpr std::array WIDE = std::to_array<Range>({
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x3096},   {0x309B, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
    {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},
    {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004},
    {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F202},
    {0x1F210, 0x1F23B}, {0x1F240, 0x1F248}, {0x1F250, 0x1F251}, {0x1F260, 0x1F265},
    {0x1F300, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393},
    {0x1F3A0, 0x1F3CA}, {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4},
    {0x1F3F8, 0x1F43E}, {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D},
    {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596},
    {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC},
    {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6D7}, {0x1F6DC, 0x1F6DF}, {0x1F6EB, 0x1F6EC},
    {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7EB}, {0x1F7F0, 0x1F7F0}, {0x1F90C, 0x1F93A},
    {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
});

// Combining marks of the common scripts, zero-width and format characters
// (joiners, bidirectional controls, variation selectors, tags): a terminal
// would not give them a cell of their own, or would reorder the row.
constexpr std::array ZERO_WIDTH = std::to_array<Range>({
    {0x00AD, 0x00AD},   {0x0300, 0x036F},   {0x0483, 0x0489},   {0x0591, 0x05BD},
    {0x05BF, 0x05BF},   {0x05C1, 0x05C2},   {0x05C4, 0x05C5},   {0x05C7, 0x05C7},
    {0x0600, 0x0605},   {0x0610, 0x061A},   {0x061C, 0x061C},   {0x064B, 0x065F},
    {0x0670, 0x0670},   {0x06D6, 0x06DD},   {0x06DF, 0x06E4},   {0x06E7, 0x06E8},
    {0x06EA, 0x06ED},   {0x070F, 0x070F},   {0x0711, 0x0711},   {0x0730, 0x074A},
    {0x07A6, 0x07B0},   {0x07EB, 0x07F3},   {0x0816, 0x082D},   {0x0859, 0x085B},
    {0x0890, 0x089F},   {0x08CA, 0x0903},   {0x093A, 0x093C},   {0x093E, 0x094F},
    {0x0951, 0x0957},   {0x0962, 0x0963},   {0x0981, 0x0983},   {0x09BC, 0x09D7},
    {0x0A01, 0x0A03},   {0x0A3C, 0x0A51},   {0x0A70, 0x0A71},   {0x0A81, 0x0A83},
    {0x0ABC, 0x0ACD},   {0x0B01, 0x0B03},   {0x0B3C, 0x0B57},   {0x0BBE, 0x0BCD},
    {0x0C00, 0x0C04},   {0x0C3C, 0x0C56},   {0x0C81, 0x0C83},   {0x0CBC, 0x0CD6},
    {0x0D00, 0x0D03},   {0x0D3B, 0x0D57},   {0x0DCA, 0x0DDF},   {0x0E31, 0x0E31},
    {0x0E34, 0x0E3A},   {0x0E47, 0x0E4E},   {0x0EB1, 0x0EB1},   {0x0EB4, 0x0EBC},
    {0x0EC8, 0x0ECE},   {0x0F18, 0x0F19},   {0x0F35, 0x0F39},   {0x0F71, 0x0F84},
    {0x0F8D, 0x0FBC},   {0x102B, 0x103E},   {0x1160, 0x11FF},   {0x135D, 0x135F},
    {0x1712, 0x1715},   {0x17B4, 0x17D3},   {0x180B, 0x180F},   {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF},   {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x206F},
    {0x20D0, 0x20FF},   {0x2CEF, 0x2CF1},   {0x2DE0, 0x2DFF},   {0x302A, 0x302F},
    {0x3099, 0x309A},   {0xA66F, 0xA67D},   {0xA69E, 0xA69F},   {0xA8E0, 0xA8F1},
    {0xD7B0, 0xD7FF},   {0xFE00, 0xFE0F},   {0xFE20, 0xFE2F},   {0xFEFF, 0xFEFF},
    {0xFFF9, 0xFFFB},   {0x1D167, 0x1D169}, {0x1D173, 0x1D182}, {0x1F3FB, 0x1F3FF},
    {0xE0000, 0xE0FFF},
});

template <std::size_t N>
bool in_ranges(const std::array<Range, N>& ranges, char32_t code_point) {
  const auto after =
      std::upper_bound(ranges.begin(), ranges.end(), code_point,
                       [](char32_t value, const Range& range) { return value < range.first; });
  return after != ranges.begin() && code_point <= std::prev(after)->last;
}

constexpr Glyph stand_in(std::size_t consumed) {
  return Glyph{STAND_IN, 1, consumed};
}

bool is_printable_ascii(unsigned char byte) {
  return byte >= 0x20 && byte < 0x7F;
}

bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// C1 controls (U+0080 to U+009F) are obeyed by some terminals; zero-width
// characters would share a cell with their neighbour: both are stand-ins.
Glyph utf8_glyph(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  if (is_printable_ascii(lead)) return Glyph{bytes.substr(0, 1), 1, 1};
  const Utf8Char decoded = decode_utf8(bytes);
  if (decoded.length == 0) return stand_in(1);
  const int cells = decoded.code_point < 0xA0 ? 0 : code_point_cells(decoded.code_point);
  if (cells == 0) return stand_in(decoded.length);
  return Glyph{bytes.substr(0, decoded.length), cells, decoded.length};
}

std::string lower_without_dashes(std::string_view text) {
  std::string folded;
  for (const char c : text) {
    if (c != '-' && c != '_')
      folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return folded;
}

}  // namespace

std::size_t utf8_length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

Utf8Char decode_utf8(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  const std::size_t length = utf8_length(lead);
  if (length == 0 || bytes.size() < length) return {};
  char32_t code_point = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (!is_continuation(byte)) return {};
    code_point = (code_point << 6) | (byte & 0x3Fu);
  }
  constexpr char32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
  if (code_point < SMALLEST[length] || code_point > 0x10FFFF || surrogate) return {};
  return {code_point, length};
}

int code_point_cells(char32_t code_point) {
  if (in_ranges(ZERO_WIDTH, code_point)) return 0;
  return in_ranges(WIDE, code_point) ? 2 : 1;
}

Glyph first_glyph(std::string_view bytes, GlyphMode mode) {
  switch (mode) {
    case GlyphMode::Utf8:
      return utf8_glyph(bytes);
    case GlyphMode::SingleByte:
      if (is_printable_ascii(static_cast<unsigned char>(bytes[0])))
        return Glyph{bytes.substr(0, 1)};
      return stand_in(1);
    case GlyphMode::CodePage:
      break;
  }
  return Glyph{bytes.substr(0, 1)};
}

// The codeset is the part after the dot, before any "@modifier":
// "en_US.UTF-8", "C.utf8", "de_DE.utf-8@euro"; or the whole name, as in
// LC_CTYPE=UTF-8.
bool locale_is_utf8(const char* lc_all, const char* lc_ctype, const char* lang) {
  std::string_view name;
  for (const char* candidate : {lc_all, lc_ctype, lang}) {
    if (candidate != nullptr && *candidate != '\0') {
      name = candidate;
      break;
    }
  }
  const std::size_t dot = name.find('.');
  const std::size_t start = dot == std::string_view::npos ? 0 : dot + 1;
  const std::string_view codeset = name.substr(start, name.find('@', start) - start);
  return lower_without_dashes(codeset) == "utf8";
}

}  // namespace console
