// The Win32 console's key records turned into key codes: one table of key
// record sequences and the codes they must give.
#include "console/winkeys.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace console {
namespace {

using namespace control_key;

constexpr std::uint16_t VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10,
                        VK_CONTROL = 0x11, VK_MENU = 0x12, VK_CAPITAL = 0x14, VK_ESCAPE = 0x1B,
                        VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28,
                        VK_DELETE = 0x2E, VK_NUMPAD0 = 0x60, VK_DIVIDE = 0x6F, VK_F1 = 0x70,
                        VK_F12 = 0x7B, VK_NUMLOCK = 0x90, VK_SCROLL = 0x91, VK_LMENU = 0xA4;

KeyRecord press(std::uint16_t vk, std::uint16_t scan, char ch, std::uint32_t keys = 0) {
  return {true, vk, scan, static_cast<std::uint8_t>(ch), keys};
}

KeyRecord release(std::uint16_t vk, std::uint16_t scan, std::uint32_t keys = 0) {
  return {false, vk, scan, 0, keys};
}

// Alt held while the keypad's digit positions are pressed, then let go.
std::vector<KeyRecord> alt_keypad(std::vector<std::uint16_t> scans, std::uint32_t alt = LEFT_ALT,
                                  std::uint32_t extra = 0) {
  std::vector<KeyRecord> records{press(VK_MENU, 56, 0, alt)};
  for (std::uint16_t scan : scans) {
    records.push_back(press(VK_NUMPAD0, scan, 0, alt | extra));
    records.push_back(release(VK_NUMPAD0, scan, alt | extra));
  }
  records.push_back(release(VK_MENU, 56));
  return records;
}

struct Case {
  std::string name;
  std::vector<KeyRecord> records;
  std::vector<std::uint8_t> codes;
};

const std::vector<Case> CASES = {
    // Keys that give a character.
    {"letter", {press('A', 30, 'a')}, {'a'}},
    {"shifted letter", {press('A', 30, 'A', SHIFT)}, {'A'}},
    {"enter", {press(VK_RETURN, 28, 13)}, {13}},
    {"escape", {press(VK_ESCAPE, 1, 27)}, {27}},
    {"escape without its character", {press(VK_ESCAPE, 1, 0)}, {27}},
    {"left alt escape", {press(VK_ESCAPE, 1, 0, LEFT_ALT)}, {0, 1}},
    {"backspace", {press(VK_BACK, 14, 8)}, {8}},
    {"tab", {press(VK_TAB, 15, 9)}, {9}},
    {"ctrl with a letter", {press('C', 46, 3, LEFT_CTRL)}, {3}},
    {"right alt character", {press('Q', 16, '@', RIGHT_ALT | LEFT_CTRL)}, {'@'}},
    {"right alt letter", {press('X', 45, 'x', RIGHT_ALT)}, {'x'}},
    {"code page character", {press(0xDE, 40, static_cast<char>(0xE4))}, {0xE4}},
    // Extended keys: keys without a character, by scan code and modifier.
    {"up", {press(VK_UP, 72, 0, ENHANCED)}, {0, 72}},
    {"down", {press(VK_DOWN, 80, 0, ENHANCED)}, {0, 80}},
    {"left", {press(VK_LEFT, 75, 0, ENHANCED)}, {0, 75}},
    {"right", {press(VK_RIGHT, 77, 0, ENHANCED)}, {0, 77}},
    {"keypad left without num lock", {press(VK_LEFT, 75, 0)}, {0, 75}},
    {"f1", {press(VK_F1, 59, 0)}, {0, 59}},
    {"shift f1", {press(VK_F1, 59, 0, SHIFT)}, {0, 84}},
    {"ctrl f1", {press(VK_F1, 59, 0, RIGHT_CTRL)}, {0, 94}},
    {"alt f1", {press(VK_F1, 59, 0, RIGHT_ALT)}, {0, 104}},
    {"alt before ctrl before shift", {press(VK_F1, 59, 0, LEFT_ALT | LEFT_CTRL | SHIFT)}, {0, 104}},
    {"ctrl before shift", {press(VK_F1, 59, 0, LEFT_CTRL | SHIFT)}, {0, 94}},
    {"f12", {press(VK_F12, 88, 0)}, {0, 134}},
    {"shift f12", {press(VK_F12, 88, 0, SHIFT)}, {0, 136}},
    {"ctrl up", {press(VK_UP, 72, 0, ENHANCED | LEFT_CTRL)}, {0, 141}},
    {"ctrl left", {press(VK_LEFT, 75, 0, ENHANCED | LEFT_CTRL)}, {0, 115}},
    {"shift up keeps its code", {press(VK_UP, 72, 0, ENHANCED | SHIFT)}, {0, 72}},
    {"alt delete", {press(VK_DELETE, 83, 0, ENHANCED | RIGHT_ALT)}, {0, 163}},
    // Extended although they give a character.
    {"keypad enter", {press(VK_RETURN, 28, 13, ENHANCED)}, {0, 28}},
    {"alt keypad enter", {press(VK_RETURN, 28, 13, ENHANCED | RIGHT_ALT)}, {0, 166}},
    {"keypad slash", {press(VK_DIVIDE, 53, '/', ENHANCED)}, {0, 53}},
    {"main slash", {press(0xBF, 53, '/')}, {'/'}},
    {"shift tab", {press(VK_TAB, 15, 9, SHIFT)}, {0, 15}},
    {"left alt letter", {press('X', 45, 'x', LEFT_ALT)}, {0, 45}},
    {"left alt right bracket", {press(0xDD, 27, ']', LEFT_ALT)}, {0, 27}},
    {"left alt digit", {press('1', 2, '1', LEFT_ALT)}, {0, 120}},
    {"left alt equals", {press(0xBB, 13, '=', LEFT_ALT)}, {0, 131}},
    // Records that give nothing.
    {"release", {release('A', 30)}, {}},
    {"shift alone", {press(VK_SHIFT, 42, 0, SHIFT), release(VK_SHIFT, 42)}, {}},
    {"ctrl alone", {press(VK_CONTROL, 29, 0, LEFT_CTRL), release(VK_CONTROL, 29)}, {}},
    {"alt alone", {press(VK_MENU, 56, 0, LEFT_ALT), release(VK_MENU, 56)}, {}},
    {"left alt by its own code", {press(VK_LMENU, 56, 0, LEFT_ALT)}, {}},
    {"caps lock", {press(VK_CAPITAL, 58, 0)}, {}},
    {"num lock", {press(VK_NUMLOCK, 69, 0, ENHANCED)}, {}},
    {"scroll lock", {press(VK_SCROLL, 70, 0)}, {}},
    {"key without scan code or character", {press(0xFF, 0, 0)}, {}},
    // Whole key strokes as the console reports them, modifiers included.
    {"shifted letter stroke",
     {press(VK_SHIFT, 42, 0, SHIFT), press('A', 30, 'A', SHIFT), release('A', 30, SHIFT),
      release(VK_SHIFT, 42)},
     {'A'}},
    {"left alt stroke",
     {press(VK_MENU, 56, 0, LEFT_ALT), press('X', 45, 'x', LEFT_ALT), release('X', 45, LEFT_ALT),
      release(VK_MENU, 56)},
     {0, 45}},
    // Alt with the numeric keypad composes one code, given on Alt's release.
    {"alt 2 7 is escape", alt_keypad({80, 71}), {27}},
    {"alt 1 3 is enter", alt_keypad({79, 81}), {13}},
    {"right alt composes too", alt_keypad({79, 81}, RIGHT_ALT), {13}},
    {"cursor block keys compose", alt_keypad({72, 82}, LEFT_ALT, ENHANCED), {80}},
    {"all digit positions", alt_keypad({71, 73, 75, 76}), {static_cast<std::uint8_t>(7945 % 256)}},
    {"composed modulo 256", alt_keypad({81, 82, 82}), {44}},
    {"composed 0 gives nothing", alt_keypad({82}), {}},
    {"composed 256 gives nothing", alt_keypad({80, 76, 77}), {}},
    {"number restarts after release",
     [] {
       auto records = alt_keypad({77, 76});
       auto again = alt_keypad({});
       records.insert(records.end(), again.begin(), again.end());
       return records;
     }(),
     {65}},
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

class Translate : public testing::TestWithParam<Case> {};

TEST_P(Translate, GivesItsCodes) {
  KeyTranslator translator;
  std::vector<std::uint8_t> codes;
  for (const KeyRecord& record : GetParam().records) {
    for (std::uint8_t code : translator.translate(record)) codes.push_back(code);
  }
  EXPECT_EQ(codes, GetParam().codes);
}

INSTANTIATE_TEST_SUITE_P(KeyRecords, Translate, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<Case>& param) {
                           std::string name = param.param.name;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace console
