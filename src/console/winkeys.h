// Key codes from the Win32 console's key records: which records are dropped,
// which give a character, which give an extended key (0, then its key code),
// and the Alt + numeric keypad composition. Pure logic, so it is tested with
// tables on any platform; console_win32.cpp feeds it the records it reads.
#pragma once

#include <cstdint>
#include <vector>

namespace console {

// The fields of a console key record that the codes depend on.
struct KeyRecord {
  bool key_down = true;
  std::uint16_t virtual_key = 0;
  std::uint16_t scan_code = 0;
  // The character the keyboard layout gives, 0 when the key gives none.
  std::uint8_t ascii_char = 0;
  std::uint32_t control_keys = 0;
};

// Bits of KeyRecord::control_keys, as the console reports them.
namespace control_key {
inline constexpr std::uint32_t RIGHT_ALT = 0x0001;
inline constexpr std::uint32_t LEFT_ALT = 0x0002;
inline constexpr std::uint32_t RIGHT_CTRL = 0x0004;
inline constexpr std::uint32_t LEFT_CTRL = 0x0008;
inline constexpr std::uint32_t SHIFT = 0x0010;
// The separate cursor and editing block, the numeric keypad's Enter and /.
inline constexpr std::uint32_t ENHANCED = 0x0100;
}  // namespace control_key

// Turns key records, oldest first, into key codes. Keeps the number being
// composed with Alt and the numeric keypad between records.
class KeyTranslator {
 public:
  // The codes one record gives: none (dropped), one (a character or a
  // composed number) or two (0 and the key code of an extended key).
  std::vector<std::uint8_t> translate(const KeyRecord& record);

 private:
  bool add_keypad_digit(const KeyRecord& record);
  std::vector<std::uint8_t> release_alt();

  std::uint8_t composed_ = 0;
};

// The key code of an extended key: its scan code remapped by the modifier
// held, Alt first, then Ctrl, then Shift.
std::uint8_t extended_key_code(const KeyRecord& record);

}  // namespace console
