// Terminal key reports into key codes: printable bytes as themselves, the
// control keys as their codes, CSI and SS3 sequences (xterm, the Linux
// console, rxvt) into extended keys with the PC scan code remapped by the
// modifiers held.
#include "console/keys.h"

#include <algorithm>
#include <array>
#include <vector>

#include "console/glyphs.h"

namespace console {

namespace {

constexpr char ESC = '\x1b';
constexpr std::uint8_t ENTER = 13;
constexpr std::uint8_t BACKSPACE = 8;
constexpr std::uint8_t ESC_CODE = 27;
// What a press of a character of several UTF-8 bytes gives.
constexpr std::uint8_t OTHER_CHARACTER = '?';
// Longer than any key report: a run this long is not one, so it is dropped.
constexpr std::size_t LONGEST_SEQUENCE = 32;

// Modifier bits of a CSI/SS3 parameter, after subtracting 1.
constexpr int SHIFT = 1;
constexpr int ALT = 2;
constexpr int CTRL = 4;
constexpr int META = 8;

// The key code of an extended key alone and with each modifier; Alt counts
// first, then Ctrl, then Shift.
struct Remap {
  std::uint8_t plain, shift, ctrl, alt;
};

constexpr Remap UP{72, 72, 141, 152};
constexpr Remap DOWN{80, 80, 145, 160};
constexpr Remap RIGHT{77, 77, 116, 157};
constexpr Remap LEFT{75, 75, 115, 155};
constexpr Remap HOME{71, 71, 119, 151};
constexpr Remap END{79, 79, 117, 159};
constexpr Remap PAGE_UP{73, 73, 132, 153};
constexpr Remap PAGE_DOWN{81, 81, 118, 161};
constexpr Remap INSERT{82, 82, 146, 162};
constexpr Remap DELETE{83, 83, 147, 163};
constexpr Remap KEYPAD_CENTRE{76, 76, 143, 76};
constexpr Remap KEYPAD_ENTER{28, 28, 28, 166};
constexpr Remap KEYPAD_SLASH{53, 53, 149, 164};
constexpr Remap BACK_TAB{15, 15, 148, 165};

constexpr Remap function_key(int n) {
  if (n == 11) return {133, 135, 137, 139};
  if (n == 12) return {134, 136, 138, 140};
  const auto offset = static_cast<std::uint8_t>(n - 1);
  return {static_cast<std::uint8_t>(59 + offset), static_cast<std::uint8_t>(84 + offset),
          static_cast<std::uint8_t>(94 + offset), static_cast<std::uint8_t>(104 + offset)};
}

Key extended(std::uint8_t code) {
  return Key{code, true};
}

Key remapped(const Remap& remap, int modifiers) {
  if ((modifiers & (ALT | META)) != 0) return extended(remap.alt);
  if ((modifiers & CTRL) != 0) return extended(remap.ctrl);
  if ((modifiers & SHIFT) != 0) return extended(remap.shift);
  return extended(remap.plain);
}

// The keys of a US layout by scan code, unshifted and shifted.
struct KeyRow {
  int first_scan_code;
  std::string_view plain;
  std::string_view shifted;
};

constexpr std::array US_LAYOUT = std::to_array<KeyRow>({
    {2, "1234567890-=", "!@#$%^&*()_+"},
    {16, "qwertyuiop[]", "QWERTYUIOP{}"},
    {30, "asdfghjkl;'`", "ASDFGHJKL:\"~"},
    {43, "\\zxcvbnm,./", "|ZXCVBNM<>?"},
    {57, " ", " "},
});

std::optional<int> us_scan_code(char c) {
  for (const KeyRow& row : US_LAYOUT) {
    for (const std::string_view keys : {row.plain, row.shifted}) {
      const std::size_t at = keys.find(c);
      if (at != std::string_view::npos) return row.first_scan_code + static_cast<int>(at);
    }
  }
  return std::nullopt;
}

// Alt with a key: the digit row and - = have codes of their own (120 to
// 131), every other key gives its scan code.
std::optional<Key> alt_key(unsigned char byte) {
  switch (byte) {
    case '\r':
    case '\n':
      return extended(28);
    case '\t':
      return extended(165);
    case 0x7F:
    case 0x08:
      return extended(14);
    default:
      break;
  }
  if (byte >= 1 && byte <= 26) byte = static_cast<unsigned char>('a' + byte - 1);
  if (byte >= 0x80) return std::nullopt;
  const std::optional<int> scan_code = us_scan_code(static_cast<char>(byte));
  if (!scan_code) return std::nullopt;
  const int code = *scan_code <= 13 ? *scan_code + 118 : *scan_code;
  return extended(static_cast<std::uint8_t>(code));
}

std::optional<Remap> tilde_key(int number) {
  switch (number) {
    case 1:
    case 7:
      return HOME;
    case 2:
      return INSERT;
    case 3:
      return DELETE;
    case 4:
    case 8:
      return END;
    case 5:
      return PAGE_UP;
    case 6:
      return PAGE_DOWN;
    default:
      break;
  }
  // F1-F5 are 11-15, F6-F10 17-21, F11 and F12 23 and 24.
  if (number >= 11 && number <= 15) return function_key(number - 10);
  if (number >= 17 && number <= 21) return function_key(number - 11);
  if (number == 23 || number == 24) return function_key(number - 12);
  return std::nullopt;
}

// Final letters shared by CSI and SS3 reports.
std::optional<Remap> letter_key(char final_byte) {
  switch (final_byte) {
    case 'A':
      return UP;
    case 'B':
      return DOWN;
    case 'C':
      return RIGHT;
    case 'D':
      return LEFT;
    case 'H':
      return HOME;
    case 'F':
      return END;
    case 'E':
    case 'G':
      return KEYPAD_CENTRE;
    case 'P':
    case 'Q':
    case 'R':
    case 'S':
      return function_key(final_byte - 'P' + 1);
    default:
      return std::nullopt;
  }
}

// rxvt reports Shift+arrows as CSI a-d and Ctrl+arrows as SS3 a-d.
std::optional<Remap> rxvt_arrow(char final_byte) {
  if (final_byte < 'a' || final_byte > 'd') return std::nullopt;
  return letter_key(static_cast<char>(final_byte - 'a' + 'A'));
}

// Parameters of digits and ";" only; anything else (private markers) makes
// the report one this decoder does not know.
std::optional<std::vector<int>> numbers(std::string_view parameters) {
  std::vector<int> values{0};
  for (const char c : parameters) {
    if (c == ';') {
      values.push_back(0);
    } else if (c >= '0' && c <= '9' && values.back() < 10000) {
      values.back() = values.back() * 10 + (c - '0');
    } else {
      return std::nullopt;
    }
  }
  return values;
}

int modifiers_of(const std::vector<int>& values) {
  return values.size() >= 2 && values[1] >= 1 ? values[1] - 1 : 0;
}

std::optional<Key> csi_key(std::string_view parameters, char final_byte, int extra_modifiers) {
  const std::optional<std::vector<int>> values = numbers(parameters);
  if (!values) return std::nullopt;
  // A late answer to the position query (row;column R) is not F3: the
  // modified F3 reports always carry 1 first.
  if (final_byte == 'R' && values->size() == 2 && values->front() != 1) return std::nullopt;
  int modifiers = modifiers_of(*values) | extra_modifiers;
  std::optional<Remap> key;
  switch (final_byte) {
    case '~':
      key = tilde_key(values->front());
      break;
    case '^':  // rxvt: Ctrl
      key = tilde_key(values->front()), modifiers |= CTRL;
      break;
    case '$':  // rxvt: Shift
      key = tilde_key(values->front()), modifiers |= SHIFT;
      break;
    case '@':  // rxvt: Ctrl+Shift
      key = tilde_key(values->front()), modifiers |= CTRL | SHIFT;
      break;
    case 'Z':
      key = BACK_TAB;
      break;
    default:
      key = letter_key(final_byte);
      if (!key && (key = rxvt_arrow(final_byte))) modifiers |= SHIFT;
  }
  if (!key) return std::nullopt;
  return remapped(*key, modifiers);
}

// SS3 finals of the keypad in application mode: Enter and / are extended
// keys, the others give their characters.
std::optional<Key> ss3_key(char final_byte, int modifiers) {
  if (final_byte == 'M') return remapped(KEYPAD_ENTER, modifiers);
  if (final_byte == 'o') return remapped(KEYPAD_SLASH, modifiers);
  if (final_byte >= 'j' && final_byte <= 'y') {
    constexpr std::string_view KEYPAD = "*+,-./0123456789";
    return Key{static_cast<std::uint8_t>(KEYPAD[static_cast<std::size_t>(final_byte - 'j')])};
  }
  if (std::optional<Remap> key = letter_key(final_byte)) return remapped(*key, modifiers);
  if (std::optional<Remap> key = rxvt_arrow(final_byte)) return remapped(*key, modifiers | CTRL);
  return std::nullopt;
}

struct Parsed {
  std::size_t consumed = 0;  // 0: unfinished, wait for more bytes
  std::optional<Key> key;    // none: bytes swallowed
};

Parsed press(std::size_t consumed, Key key) {
  return {consumed, key};
}
Parsed swallow(std::size_t consumed) {
  return {consumed, std::nullopt};
}
constexpr Parsed UNFINISHED{};

bool is_parameter(char c) {
  return c >= 0x30 && c <= 0x3F;
}
bool is_intermediate(char c) {
  return c >= 0x20 && c <= 0x2F && c != '$';
}
bool is_final(char c) {
  return (c >= 0x40 && c <= 0x7E) || c == '$';
}

// An unfinished report is dropped once no byte came for a while, or when it
// has grown longer than any key report.
Parsed unfinished(std::string_view bytes, bool waited) {
  return waited || bytes.size() > LONGEST_SEQUENCE ? swallow(bytes.size()) : UNFINISHED;
}

// ESC [ parameters intermediates final, or the Linux console's ESC [ [ A-E
// for F1-F5.
Parsed parse_csi(std::string_view bytes, bool waited, int extra_modifiers) {
  if (bytes.size() > 2 && bytes[2] == '[') {
    if (bytes.size() == 3) return unfinished(bytes, waited);
    if (bytes[3] < 'A' || bytes[3] > 'E') return swallow(4);
    return press(4, remapped(function_key(bytes[3] - 'A' + 1), extra_modifiers));
  }
  // ESC [ alone is Alt+[.
  if (waited && bytes.size() == 2) return press(2, *alt_key('['));
  std::size_t end = 2;
  while (end < bytes.size() && is_parameter(bytes[end])) ++end;
  const std::string_view parameters = bytes.substr(2, end - 2);
  while (end < bytes.size() && is_intermediate(bytes[end])) ++end;
  if (end >= bytes.size()) return unfinished(bytes, waited);
  // A report cut short by some other byte: that byte starts anew.
  if (!is_final(bytes[end])) return swallow(end);
  const bool plain_parameters = end == 2 + parameters.size();
  const std::optional<Key> key =
      plain_parameters ? csi_key(parameters, bytes[end], extra_modifiers) : std::nullopt;
  return {end + 1, key};
}

// ESC O, an optional modifier in digits, a final byte.
Parsed parse_ss3(std::string_view bytes, bool waited, int extra_modifiers) {
  std::size_t end = 2;
  int modifier_parameter = 0;
  while (end < bytes.size() && bytes[end] >= '0' && bytes[end] <= '9' && end < 4) {
    modifier_parameter = modifier_parameter * 10 + (bytes[end++] - '0');
  }
  if (end >= bytes.size()) {
    // ESC O alone is Alt+O.
    if (waited && bytes.size() == 2) return press(2, *alt_key('O'));
    return unfinished(bytes, waited);
  }
  const int modifiers = (modifier_parameter > 0 ? modifier_parameter - 1 : 0) | extra_modifiers;
  return {end + 1, ss3_key(bytes[end], modifiers)};
}

Parsed parse_escape(std::string_view bytes, bool waited, int extra_modifiers = 0);

// ESC ESC [ ... and ESC ESC O ... are Alt with the reported key (rxvt,
// PuTTY); any other ESC ESC is the Esc key twice.
Parsed parse_double_escape(std::string_view bytes, bool waited) {
  if (bytes.size() == 2) return waited ? press(1, Key{ESC_CODE}) : UNFINISHED;
  if (bytes[2] != '[' && bytes[2] != 'O') return press(1, Key{ESC_CODE});
  const Parsed inner = parse_escape(bytes.substr(1), waited, ALT);
  if (inner.consumed == 0) return UNFINISHED;
  return {inner.consumed + 1, inner.key};
}

Parsed parse_escape(std::string_view bytes, bool waited, int extra_modifiers) {
  if (bytes.size() == 1) return waited ? press(1, Key{ESC_CODE}) : UNFINISHED;
  switch (bytes[1]) {
    case '[':
      return parse_csi(bytes, waited, extra_modifiers);
    case 'O':
      return parse_ss3(bytes, waited, extra_modifiers);
    case ESC:
      return parse_double_escape(bytes, waited);
    default:
      break;
  }
  // ESC before a key is how terminals send Alt with it.
  const std::optional<Key> with_alt = alt_key(static_cast<unsigned char>(bytes[1]));
  return with_alt ? press(2, *with_alt) : press(1, Key{ESC_CODE});
}

// A character of several UTF-8 bytes is one press; a broken one is a press
// for each stray byte.
Parsed parse_utf8(std::string_view bytes, bool waited) {
  const std::size_t length = utf8_length(static_cast<unsigned char>(bytes[0]));
  if (length != 0 && bytes.size() < length) {
    const bool continuing = std::all_of(bytes.begin() + 1, bytes.end(), [](char c) {
      return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
    });
    if (continuing) return waited ? press(bytes.size(), Key{OTHER_CHARACTER}) : UNFINISHED;
  }
  const std::size_t whole = decode_utf8(bytes).length;
  return press(whole == 0 ? 1 : whole, Key{OTHER_CHARACTER});
}

// NUL is Ctrl+Space or Ctrl+@, which a PC reports as the extended key 3.
Parsed parse_plain(std::string_view bytes, bool waited, bool utf8) {
  const auto byte = static_cast<unsigned char>(bytes[0]);
  switch (byte) {
    case 0x00:
      return press(1, extended(3));
    case '\n':
    case '\r':
      return press(1, Key{ENTER});
    case 0x7F:
    case 0x08:
      return press(1, Key{BACKSPACE});
    default:
      break;
  }
  if (byte >= 0x80 && utf8) return parse_utf8(bytes, waited);
  return press(1, Key{byte});
}

}  // namespace

void KeyDecoder::push(std::string_view bytes, std::int64_t now_ms) {
  if (now_ms - last_push_ms_ >= ESC_WAIT_MS) decode_pending(true);
  pending_ += bytes;
  last_push_ms_ = now_ms;
}

std::optional<Key> KeyDecoder::next(std::int64_t now_ms) {
  decode_pending(now_ms - last_push_ms_ >= ESC_WAIT_MS);
  if (ready_.empty()) return std::nullopt;
  const Key key = ready_.front();
  ready_.pop_front();
  return key;
}

std::optional<std::int64_t> KeyDecoder::unfinished_until() {
  decode_pending(false);
  if (pending_.empty()) return std::nullopt;
  return last_push_ms_ + ESC_WAIT_MS;
}

void KeyDecoder::decode_pending(bool waited) {
  while (!pending_.empty()) {
    const Parsed parsed =
        pending_[0] == ESC ? parse_escape(pending_, waited) : parse_plain(pending_, waited, utf8_);
    if (parsed.consumed == 0) return;
    pending_.erase(0, parsed.consumed);
    if (parsed.key) ready_.push_back(*parsed.key);
  }
}

std::optional<PositionReport> find_position_report(std::string_view bytes) {
  for (std::size_t begin = bytes.find("\x1b["); begin != std::string_view::npos;
       begin = bytes.find("\x1b[", begin + 1)) {
    const std::size_t end = bytes.find_first_not_of("0123456789;", begin + 2);
    if (end == std::string_view::npos || bytes[end] != 'R') continue;
    const std::optional<std::vector<int>> values =
        numbers(bytes.substr(begin + 2, end - begin - 2));
    if (values && values->size() == 2 && (*values)[0] > 0 && (*values)[1] > 0) {
      return PositionReport{(*values)[0], (*values)[1], begin, end + 1};
    }
  }
  return std::nullopt;
}

void HeldKey::typed(Key key) {
  if (key.extended) typed_ahead_.push_back(0);
  typed_ahead_.push_back(key.code);
}

bool HeldKey::pressed() {
  if (held_) return true;
  if (typed_ahead_.empty()) return false;
  held_ = typed_ahead_.front();
  typed_ahead_.pop_front();
  return true;
}

std::uint8_t HeldKey::take() {
  const std::uint8_t code = held_.value_or(0);
  held_.reset();
  return code;
}

}  // namespace console
