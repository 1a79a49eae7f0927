// Key reports into key codes, fed byte strings and a clock.
#include "console/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace console {
namespace {

using Codes = std::vector<int>;

// The codes READKEY would return, one after another.
Codes codes_of(const std::vector<Key>& keys) {
  Codes codes;
  for (const Key key : keys) {
    if (key.extended) codes.push_back(0);
    codes.push_back(key.code);
  }
  return codes;
}

std::vector<Key> drain(KeyDecoder& decoder, std::int64_t now_ms) {
  std::vector<Key> keys;
  while (const std::optional<Key> key = decoder.next(now_ms)) keys.push_back(*key);
  return keys;
}

// All the bytes arrive at once; the keys are taken right away and once more
// after the Esc wait.
Codes decoded(std::string_view bytes, bool utf8 = true) {
  KeyDecoder decoder(utf8);
  decoder.push(bytes, 1000);
  std::vector<Key> keys = drain(decoder, 1000);
  for (const Key key : drain(decoder, 1000 + KeyDecoder::ESC_WAIT_MS)) keys.push_back(key);
  return codes_of(keys);
}

struct Case {
  const char* bytes;
  Codes codes;
};

void expect_table(const std::vector<Case>& cases) {
  for (const Case& c : cases)
    EXPECT_EQ(decoded(c.bytes), c.codes) << testing::PrintToString(c.bytes);
}

TEST(KeyDecoder, CharactersAndControlKeys) {
  expect_table({
      {"a", {'a'}},
      {"Z", {'Z'}},
      {" ", {' '}},
      {"\r", {13}},   // Enter
      {"\n", {13}},   // Ctrl+J, or Enter of a terminal that sends LF
      {"\x7f", {8}},  // Backspace
      {"\x08", {8}},  // Ctrl+H
      {"\t", {9}},
      {"\x01", {1}},   // Ctrl+A
      {"\x03", {3}},   // Ctrl+C passed through as a key
      {"\x1a", {26}},  // Ctrl+Z
      {"\x1b", {27}},  // Esc, once nothing follows it
      {"\x1b\x1b", {27, 27}},
      {"\xc3\xa9", {'?'}},  // one press, one code
      {"\xe4\xb8\xad\xe6\x96\x87", {'?', '?'}},
      {"\xff"
       "a",
       {'?', 'a'}},
  });
  EXPECT_EQ(decoded("ab\xc3\xa9", false), (Codes{'a', 'b', 0xC3, 0xA9}));
  // NUL (Ctrl+Space) would read as the start of an extended key; it is one.
  EXPECT_EQ(decoded(std::string_view("\0", 1)), (Codes{0, 3}));
}

TEST(KeyDecoder, CursorAndEditingKeys) {
  expect_table({
      {"\x1b[A", {0, 72}},  {"\x1bOA", {0, 72}},  {"\x1b[B", {0, 80}},  {"\x1b[D", {0, 75}},
      {"\x1b[C", {0, 77}},  {"\x1b[H", {0, 71}},  {"\x1bOH", {0, 71}},  {"\x1b[F", {0, 79}},
      {"\x1b[1~", {0, 71}}, {"\x1b[7~", {0, 71}}, {"\x1b[4~", {0, 79}}, {"\x1b[8~", {0, 79}},
      {"\x1b[5~", {0, 73}}, {"\x1b[6~", {0, 81}}, {"\x1b[2~", {0, 82}}, {"\x1b[3~", {0, 83}},
      {"\x1b[E", {0, 76}},  {"\x1b[Z", {0, 15}},  {"\x1bOM", {0, 28}},  {"\x1bOo", {0, 53}},
      {"\x1bOp", {'0'}},    {"\x1bOk", {'+'}},
  });
}

TEST(KeyDecoder, FunctionKeysInEveryForm) {
  expect_table({
      {"\x1bOP", {0, 59}},      {"\x1bOS", {0, 62}},      {"\x1b[11~", {0, 59}},
      {"\x1b[[A", {0, 59}},     {"\x1b[[E", {0, 63}},     {"\x1b[15~", {0, 63}},
      {"\x1b[17~", {0, 64}},    {"\x1b[21~", {0, 68}},    {"\x1b[23~", {0, 133}},
      {"\x1b[24~", {0, 134}},   {"\x1b[1;2P", {0, 84}},   {"\x1bO2P", {0, 84}},
      {"\x1b[21;2~", {0, 93}},  {"\x1b[23;2~", {0, 135}}, {"\x1b[24;2~", {0, 136}},
      {"\x1b[1;5P", {0, 94}},   {"\x1b[21;5~", {0, 103}}, {"\x1b[23;5~", {0, 137}},
      {"\x1b[24;5~", {0, 138}}, {"\x1b[1;3P", {0, 104}},  {"\x1b[21;3~", {0, 113}},
      {"\x1b[23;3~", {0, 139}}, {"\x1b[24;3~", {0, 140}}, {"\x1b[1;2R", {0, 86}},
  });
}

// Alt counts first, then Ctrl, then Shift.
TEST(KeyDecoder, ModifiersRemapTheKeyCode) {
  expect_table({
      {"\x1b[1;5D", {0, 115}},
      {"\x1b[1;5C", {0, 116}},
      {"\x1b[1;5F", {0, 117}},
      {"\x1b[6;5~", {0, 118}},
      {"\x1b[1;5H", {0, 119}},
      {"\x1b[5;5~", {0, 132}},
      {"\x1b[1;5A", {0, 141}},
      {"\x1b[1;5B", {0, 145}},
      {"\x1b[2;5~", {0, 146}},
      {"\x1b[3;5~", {0, 147}},
      {"\x1b[1;3H", {0, 151}},
      {"\x1b[1;3A", {0, 152}},
      {"\x1b[5;3~", {0, 153}},
      {"\x1b[1;3D", {0, 155}},
      {"\x1b[1;3C", {0, 157}},
      {"\x1b[1;3F", {0, 159}},
      {"\x1b[1;3B", {0, 160}},
      {"\x1b[6;3~", {0, 161}},
      {"\x1b[2;3~", {0, 162}},
      {"\x1b[3;3~", {0, 163}},
      {"\x1b[1;2A", {0, 72}},
      {"\x1b[1;7A", {0, 152}},
      {"\x1b[1;6A", {0, 141}},
      {"\x1b[1;9A", {0, 152}},
      // rxvt: Shift and Ctrl by suffix and by lower-case finals.
      {"\x1b[a", {0, 72}},
      {"\x1bOa", {0, 141}},
      {"\x1bOd", {0, 115}},
      {"\x1b[2^", {0, 146}},
      {"\x1b[3$", {0, 83}},
      {"\x1b[11^", {0, 94}},
      // Alt as ESC before a reported key.
      {"\x1b\x1b[A", {0, 152}},
      {"\x1b\x1bOP", {0, 104}},
  });
}

TEST(KeyDecoder, AltWithAKeyGivesItsScanCode) {
  expect_table({
      {"\x1bx", {0, 45}},
      {"\x1bX", {0, 45}},
      {"\x1bq", {0, 16}},
      {"\x1bm", {0, 50}},
      {"\x1b]", {0, 27}},
      {"\x1b[", {0, 26}},
      {"\x1b;", {0, 39}},
      {"\x1b/", {0, 53}},
      {"\x1b"
       "1",
       {0, 120}},
      {"\x1b"
       "9",
       {0, 128}},
      {"\x1b"
       "0",
       {0, 129}},
      {"\x1b-", {0, 130}},
      {"\x1b=", {0, 131}},
      {"\x1b!", {0, 120}},
      {"\x1b\r", {0, 28}},
      {"\x1b\x7f", {0, 14}},
      {"\x1b\t", {0, 165}},
      {"\x1bO", {0, 24}},
      {"\x1b\x18", {0, 45}},  // Alt+Ctrl+X
  });
}

TEST(KeyDecoder, UnknownSequencesAreSwallowedWhole) {
  expect_table({
      {"\x1b[99~", {}},
      {"\x1b[?1;2c", {}},   // a device attributes answer
      {"\x1b[12;40R", {}},  // a late cursor position answer
      {"\x1b[1;5", {}},     // cut short, nothing more came
      {"\x1b[200~", {}},
      {"\x1bOz", {}},
      {"x\x1b[99~y", {'x', 'y'}},
      {"\x1b[1;5\ra", {13, 'a'}},  // a report cut short by another key
      {"\x1b[[Z", {}},
  });
}

// A run of parameter bytes longer than any report is dropped at once, so
// the next key cannot end it.
TEST(KeyDecoder, ALongUnfinishedRunIsDroppedWithoutWaiting) {
  KeyDecoder decoder(true);
  decoder.push("\x1b[" + std::string(40, '1'), 0);
  EXPECT_FALSE(decoder.next(0).has_value());
  decoder.push("x", 1);
  EXPECT_EQ(codes_of(drain(decoder, 1)), (Codes{'x'}));
}

TEST(KeyDecoder, LoneEscIsToldFromASequenceByTheWait) {
  KeyDecoder decoder(true);
  decoder.push("\x1b", 0);
  EXPECT_FALSE(decoder.next(10).has_value()) << "a sequence may follow";
  decoder.push("[A", 20);
  EXPECT_EQ(codes_of(drain(decoder, 20)), (Codes{0, 72}));

  decoder.push("\x1b", 100);
  EXPECT_FALSE(decoder.next(149).has_value());
  EXPECT_EQ(codes_of(drain(decoder, 150)), (Codes{27}));
}

// Bytes read a while after an ESC are a press of their own, even when
// nobody asked for keys in between.
TEST(KeyDecoder, BytesReadLaterThanTheWaitDoNotJoinAnEsc) {
  KeyDecoder decoder(true);
  decoder.push("\x1b", 0);
  decoder.push("[A", 200);
  EXPECT_EQ(codes_of(drain(decoder, 200)), (Codes{27, '[', 'A'}));
}

// The console waits out an unfinished press at once; whole presses never
// make it wait.
TEST(KeyDecoder, OnlyAnUnfinishedPressHasAWaitToFinish) {
  KeyDecoder decoder(true);
  decoder.push("\r\x1b[A", 0);
  EXPECT_FALSE(decoder.unfinished_until().has_value());
  decoder.push("\r\x1b", 30);
  EXPECT_EQ(decoder.unfinished_until(), 30 + KeyDecoder::ESC_WAIT_MS);
  EXPECT_EQ(codes_of(drain(decoder, 30 + KeyDecoder::ESC_WAIT_MS)), (Codes{13, 0, 72, 13, 27}));
  EXPECT_FALSE(decoder.unfinished_until().has_value());
}

TEST(KeyDecoder, ACharacterOfSeveralBytesWaitsForItsLastByte) {
  KeyDecoder decoder(true);
  decoder.push("\xc3", 0);
  EXPECT_FALSE(decoder.next(5).has_value());
  decoder.push("\xa9", 10);
  EXPECT_EQ(codes_of(drain(decoder, 10)), (Codes{'?'}));
}

TEST(KeyDecoder, KeysTypedAheadComeOutInOrder) {
  EXPECT_EQ(decoded("\x1b[A\r\x1b[24~q\x1bx"), (Codes{0, 72, 13, 0, 134, 'q', 0, 45}));
}

TEST(PositionReport, FoundAmongKeys) {
  const std::string bytes = "ab\x1b[A\x1b[12;34Rc";
  const std::optional<PositionReport> report = find_position_report(bytes);
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->row, 12);
  EXPECT_EQ(report->column, 34);
  EXPECT_EQ(bytes.substr(0, report->begin) + bytes.substr(report->end), "ab\x1b[Ac");
  EXPECT_FALSE(find_position_report("\x1b[12;34").has_value());
  EXPECT_FALSE(find_position_report("\x1b[A\x1b[5~").has_value());
}

TEST(HeldKey, AnExtendedKeyGivesZeroThenItsCodeHeldBetweenTheReads) {
  HeldKey held;
  held.typed(Key{72, true});
  held.typed(Key{'a'});
  EXPECT_TRUE(held.pressed());
  EXPECT_TRUE(held.pressed()) << "asking again takes nothing";
  EXPECT_EQ(held.take(), 0);
  EXPECT_TRUE(held.pressed());
  EXPECT_EQ(held.take(), 72);
  EXPECT_TRUE(held.pressed());
  EXPECT_EQ(held.take(), 'a');
  EXPECT_FALSE(held.pressed());
}

TEST(HeldKey, KeysTypedWhileACodeIsHeldWaitBehindIt) {
  HeldKey held;
  held.typed(Key{13});
  EXPECT_TRUE(held.pressed());
  held.typed(Key{27});
  EXPECT_EQ(held.take(), 13);
  EXPECT_TRUE(held.pressed());
  EXPECT_EQ(held.take(), 27);
  EXPECT_FALSE(held.pressed());
}

}  // namespace
}  // namespace console
