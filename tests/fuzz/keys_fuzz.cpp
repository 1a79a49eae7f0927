// Fuzz target: the key decoder fed any bytes at any timing. Every key it
// gives is well formed (no code 0 but the one that starts an extended key,
// whose key code is never 0), nothing stays pending once the wait is over,
// no byte after the stream is lost, and without ESC every byte is a press.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "console/keys.h"
#include "fuzz_check.h"

namespace {

using console::Key;
using console::KeyDecoder;

// A marker pressed once everything before it has had its full wait.
constexpr char MARKER = 'Z';

struct Decoded {
  std::vector<Key> keys;
  std::string bytes;
};

void drain(KeyDecoder& decoder, std::int64_t now, std::vector<Key>& keys) {
  while (const auto key = decoder.next(now)) keys.push_back(*key);
}

// The input: a mode byte, then chunks of [delay in ms][length][bytes].
Decoded decode(const std::uint8_t* data, std::size_t size, KeyDecoder& decoder) {
  Decoded decoded;
  std::int64_t now = 1000;
  std::size_t at = 1;
  while (at + 2 <= size) {
    now += data[at] % 80;
    const std::size_t length = std::min<std::size_t>(data[at + 1] % 16, size - at - 2);
    const std::string chunk(reinterpret_cast<const char*>(data + at + 2), length);
    decoder.push(chunk, now);
    decoded.bytes += chunk;
    if (data[at] & 0x80) drain(decoder, now + (data[at] & 0x3F), decoded.keys);
    at += 2 + length;
  }
  now += KeyDecoder::ESC_WAIT_MS;
  drain(decoder, now, decoded.keys);
  FUZZ_CHECK(!decoder.unfinished_until().has_value());
  decoder.push(std::string(1, MARKER), now);
  std::vector<Key> after;
  drain(decoder, now, after);
  FUZZ_CHECK(after.size() == 1 && (after.front() == Key{MARKER, false}));
  return decoded;
}

// What a byte gives on its own, with no ESC around it.
Key plain_key(unsigned char byte) {
  if (byte == 0) return Key{3, true};
  if (byte == '\n' || byte == '\r') return Key{13, false};
  if (byte == 0x7F || byte == 0x08) return Key{8, false};
  return Key{byte, false};
}

void check_held_codes(const std::vector<Key>& keys) {
  console::HeldKey held;
  for (const Key& key : keys) held.typed(key);
  std::vector<std::uint8_t> codes;
  while (held.pressed()) codes.push_back(held.take());
  std::size_t expected = keys.size();
  for (const Key& key : keys) expected += key.extended ? 1 : 0;
  FUZZ_CHECK(codes.size() == expected);
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (codes[i] != 0) continue;
    FUZZ_CHECK(i + 1 < codes.size() && codes[i + 1] != 0);
    ++i;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool utf8 = (data[0] & 1) != 0;
  KeyDecoder decoder(utf8);
  const Decoded decoded = decode(data, size, decoder);
  for (const Key& key : decoded.keys) FUZZ_CHECK(key.code != 0);
  check_held_codes(decoded.keys);
  if (decoded.bytes.find('\x1b') != std::string::npos) return 0;
  if (!utf8) {
    FUZZ_CHECK(decoded.keys.size() == decoded.bytes.size());
    for (std::size_t i = 0; i < decoded.keys.size(); ++i) {
      FUZZ_CHECK(decoded.keys[i] == plain_key(static_cast<unsigned char>(decoded.bytes[i])));
    }
    return 0;
  }
  // A character of several bytes is one press; every ASCII byte is one.
  std::size_t ascii = 0;
  for (const char c : decoded.bytes) ascii += static_cast<unsigned char>(c) < 0x80 ? 1 : 0;
  FUZZ_CHECK(decoded.keys.size() >= ascii && decoded.keys.size() <= decoded.bytes.size());
  return 0;
}
