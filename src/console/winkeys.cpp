#include "console/winkeys.h"

#include <array>
#include <span>

namespace console {

namespace {

// Virtual-key codes of the keys the codes depend on.
constexpr std::uint16_t VK_TAB = 0x09;
constexpr std::uint16_t VK_SHIFT = 0x10;
constexpr std::uint16_t VK_ESCAPE = 0x1B;
constexpr std::uint16_t VK_CONTROL = 0x11;
constexpr std::uint16_t VK_MENU = 0x12;
constexpr std::uint16_t VK_CAPITAL = 0x14;
constexpr std::uint16_t VK_NUMLOCK = 0x90;
constexpr std::uint16_t VK_SCROLL = 0x91;
constexpr std::uint16_t VK_LSHIFT = 0xA0;
constexpr std::uint16_t VK_LMENU = 0xA4;
constexpr std::uint16_t VK_RMENU = 0xA5;

constexpr std::uint32_t ANY_ALT = control_key::LEFT_ALT | control_key::RIGHT_ALT;
constexpr std::uint32_t ANY_CTRL = control_key::LEFT_CTRL | control_key::RIGHT_CTRL;

// Scan codes first..last become to, to + 1, ...; some only for the keys of
// the separate blocks (the keypad's / and Enter share their scan codes with
// keys of the main block).
struct Remap {
  std::uint8_t first;
  std::uint8_t last;
  std::uint8_t to;
  bool enhanced_only = false;
};

constexpr std::uint8_t F1 = 59, F10 = 68, F11 = 87, F12 = 88;

constexpr std::array PLAIN_REMAP{Remap{F11, F12, 133}};

constexpr std::array SHIFT_REMAP{Remap{F1, F10, 84}, Remap{F11, F12, 135}};

constexpr std::array CTRL_REMAP{
    Remap{F1, F10, 94},        Remap{F11, F12, 137}, Remap{75, 75, 115},  // Left
    Remap{77, 77, 116},                                                   // Right
    Remap{79, 79, 117},                                                   // End
    Remap{81, 81, 118},                                                   // Page Down
    Remap{71, 71, 119},                                                   // Home
    Remap{73, 73, 132},                                                   // Page Up
    Remap{72, 72, 141},                                                   // Up
    Remap{74, 74, 142},                                                   // keypad -
    Remap{76, 76, 143},                                                   // keypad 5
    Remap{78, 78, 144},                                                   // keypad +
    Remap{80, 80, 145},                                                   // Down
    Remap{82, 83, 146},                                                   // Insert, Delete
    Remap{15, 15, 148},                                                   // Tab
    Remap{53, 53, 149, true},                                             // keypad /
    Remap{55, 55, 150, false},                                            // keypad *
};

// The keypad's digit positions never get here with Alt held: they compose.
constexpr std::array ALT_REMAP{
    Remap{F1, F10, 104},      Remap{F11, F12, 139}, Remap{2, 13, 120},  // 1 to 0, -, =
    Remap{83, 83, 163},                                                 // Delete
    Remap{53, 53, 164, true},                                           // keypad /
    Remap{15, 15, 165},                                                 // Tab
    Remap{28, 28, 166, true},                                           // keypad Enter
};

std::uint8_t remap(std::span<const Remap> table, std::uint8_t scan, bool enhanced) {
  for (const Remap& entry : table) {
    if (scan >= entry.first && scan <= entry.last && (enhanced || !entry.enhanced_only)) {
      return static_cast<std::uint8_t>(entry.to + (scan - entry.first));
    }
  }
  return scan;
}

bool is_alt_key(std::uint16_t virtual_key) {
  return virtual_key == VK_MENU || virtual_key == VK_LMENU || virtual_key == VK_RMENU;
}

// Shift, Ctrl, Alt and the lock keys give nothing on their own.
bool is_lone_modifier(std::uint16_t virtual_key) {
  switch (virtual_key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
      return true;
    default:
      return virtual_key >= VK_LSHIFT && virtual_key <= VK_RMENU;
  }
}

// The character the key gives. Wine's console host reports Esc without its
// character; Esc must still give 27.
std::uint8_t character(const KeyRecord& record) {
  if (record.virtual_key == VK_ESCAPE && record.ascii_char == 0) return 27;
  return record.ascii_char;
}

bool is_extended(const KeyRecord& record) {
  const bool shift_tab =
      record.virtual_key == VK_TAB && (record.control_keys & control_key::SHIFT) != 0;
  return character(record) == 0 || (record.control_keys & control_key::LEFT_ALT) != 0 ||
         (record.control_keys & control_key::ENHANCED) != 0 || shift_tab;
}

// The keypad's digit 0 to 9 by scan code, -1 for any other key. The cursor
// block's keys share these scan codes and count the same.
int keypad_digit(std::uint16_t scan_code) {
  switch (scan_code) {
    case 71:
      return 7;
    case 72:
      return 8;
    case 73:
      return 9;
    case 75:
      return 4;
    case 76:
      return 5;
    case 77:
      return 6;
    case 79:
      return 1;
    case 80:
      return 2;
    case 81:
      return 3;
    case 82:
      return 0;
    default:
      return -1;
  }
}

}  // namespace

std::uint8_t extended_key_code(const KeyRecord& record) {
  const auto scan = static_cast<std::uint8_t>(record.scan_code);
  const bool enhanced = (record.control_keys & control_key::ENHANCED) != 0;
  if ((record.control_keys & ANY_ALT) != 0) return remap(ALT_REMAP, scan, enhanced);
  if ((record.control_keys & ANY_CTRL) != 0) return remap(CTRL_REMAP, scan, enhanced);
  if ((record.control_keys & control_key::SHIFT) != 0) return remap(SHIFT_REMAP, scan, enhanced);
  return remap(PLAIN_REMAP, scan, enhanced);
}

std::vector<std::uint8_t> KeyTranslator::translate(const KeyRecord& record) {
  if (!record.key_down)
    return is_alt_key(record.virtual_key) ? release_alt() : std::vector<std::uint8_t>{};
  if (is_lone_modifier(record.virtual_key)) return {};
  if (add_keypad_digit(record)) return {};
  if (!is_extended(record)) return {character(record)};
  const std::uint8_t key_code = extended_key_code(record);
  // A key the console reports without a scan code cannot be told apart.
  if (key_code == 0) return {};
  return {0, key_code};
}

// With either Alt held, a keypad digit position appends its digit to the
// number being composed, kept modulo 256.
bool KeyTranslator::add_keypad_digit(const KeyRecord& record) {
  if ((record.control_keys & ANY_ALT) == 0) return false;
  const int digit = keypad_digit(record.scan_code);
  if (digit < 0) return false;
  composed_ = static_cast<std::uint8_t>(composed_ * 10 + digit);
  return true;
}

// The composed number becomes a key when Alt is let go; a composed 0 gives
// nothing.
std::vector<std::uint8_t> KeyTranslator::release_alt() {
  const std::uint8_t composed = composed_;
  composed_ = 0;
  if (composed == 0) return {};
  return {composed};
}

}  // namespace console
