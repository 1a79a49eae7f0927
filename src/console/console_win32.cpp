// Only Win32 code: the screen and keyboard on the Windows console, through
// its cell and input-record calls. The placing rules are the shared Placer's.
#include <windows.h>

#include <deque>
#include <memory>
#include <vector>

#include "console/console.h"
#include "console/placer.h"
#include "console/winkeys.h"

namespace console {

namespace {

// Draws into the cells of the console's visible window as measured at
// start-up; later scrolling or resizing does not move it.
class ConsoleSink final : public Sink {
 public:
  ConsoleSink(HANDLE output, SMALL_RECT window) : output_(output), window_(window) {}

  void put(int x, int y, std::string_view text, int cells, std::uint8_t attr) override {
    DWORD written = 0;
    WriteConsoleOutputCharacterA(output_, text.data(), static_cast<DWORD>(text.size()), cell(x, y),
                                 &written);
    const std::vector<WORD> attrs(static_cast<std::size_t>(cells), attr);
    WriteConsoleOutputAttribute(output_, attrs.data(), static_cast<DWORD>(attrs.size()), cell(x, y),
                                &written);
  }

  void scroll_up(std::uint8_t fill_attr) override {
    const SMALL_RECT below_top{window_.Left, static_cast<SHORT>(window_.Top + 1), window_.Right,
                               window_.Bottom};
    CHAR_INFO fill{};
    fill.Char.AsciiChar = ' ';
    fill.Attributes = fill_attr;
    ScrollConsoleScreenBufferA(output_, &below_top, &window_, cell(1, 1), &fill);
  }

  void blank(int x_from, int x_to, int y, std::uint8_t attr) override {
    const auto count = static_cast<DWORD>(x_to - x_from + 1);
    DWORD written = 0;
    FillConsoleOutputCharacterA(output_, ' ', count, cell(x_from, y), &written);
    FillConsoleOutputAttribute(output_, attr, count, cell(x_from, y), &written);
  }

  void cursor(int x, int y) override { SetConsoleCursorPosition(output_, cell(x, y)); }

 private:
  COORD cell(int x, int y) const {
    return {static_cast<SHORT>(window_.Left + x - 1), static_cast<SHORT>(window_.Top + y - 1)};
  }

  HANDLE output_;
  SMALL_RECT window_;
};

// The keyboard: the console's input records, translated one at a time.
struct Keyboard {
  HANDLE input = INVALID_HANDLE_VALUE;
  KeyTranslator translator;
  // The codes a key press left for READKEY: a character, or 0 and the key
  // code of an extended key.
  std::deque<std::uint8_t> held;
};

std::unique_ptr<Sink> sink;
std::unique_ptr<Placer> placer;
Keyboard keyboard;

// Keys come from the console even when standard input is redirected: the
// redirected data is not a source of key presses.
HANDLE console_input() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(input, &mode)) return input;
  return CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

int clamp_to(int value, int last) {
  return value < 1 ? 1 : (value > last ? last : value);
}

// The window and cursor as the console shows them now; a null sink with a
// 80 x 25 window when standard output is not a console.
void start_screen() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(output, &info)) {
    sink = std::make_unique<NullSink>();
    placer = std::make_unique<Placer>(*sink, Window{}, Position{}, 0x07, GlyphMode::CodePage);
    return;
  }
  const SMALL_RECT& shown = info.srWindow;
  const Window window{shown.Right - shown.Left + 1, shown.Bottom - shown.Top + 1};
  const Position cursor{clamp_to(info.dwCursorPosition.X - shown.Left + 1, window.width),
                        clamp_to(info.dwCursorPosition.Y - shown.Top + 1, window.height)};
  sink = std::make_unique<ConsoleSink>(output, shown);
  placer = std::make_unique<Placer>(*sink, window, cursor,
                                    static_cast<std::uint8_t>(info.wAttributes & 0xFF),
                                    GlyphMode::CodePage);
}

// Takes the oldest queued input record, removing it, and adds the codes it
// gives to the held ones: mouse, focus, menu and window-size records give
// none. False when the queue is empty.
bool take_input_record() {
  // The console host may read its terminal only while someone waits on the
  // input handle, so a wait that returns at once comes before every count.
  WaitForSingleObject(keyboard.input, 0);
  DWORD queued = 0;
  if (!GetNumberOfConsoleInputEvents(keyboard.input, &queued) || queued == 0) return false;
  INPUT_RECORD input{};
  DWORD read = 0;
  if (!ReadConsoleInputA(keyboard.input, &input, 1, &read) || read == 0) return false;
  if (input.EventType != KEY_EVENT) return true;
  const KEY_EVENT_RECORD& key = input.Event.KeyEvent;
  const KeyRecord record{key.bKeyDown != FALSE, key.wVirtualKeyCode, key.wVirtualScanCode,
                         static_cast<std::uint8_t>(key.uChar.AsciiChar), key.dwControlKeyState};
  for (std::uint8_t code : keyboard.translator.translate(record)) keyboard.held.push_back(code);
  return true;
}

}  // namespace

void start() {
  start_screen();
  keyboard.input = console_input();
}

// No console mode or colour was changed, so there is nothing to give back.
void finish() {}

// Every statement is in the console's cells when it ends.
void flush() {}

std::uint8_t TEXTATTR() {
  return placer->attr();
}
void TEXTBACKGROUND(int background) {
  placer->text_background(background);
}
void TEXTCOLOR(int colour) {
  placer->text_colour(colour);
}

void GOTOXY(int x, int y) {
  placer->gotoxy(x, y);
}
void CLREOL() {
  placer->clreol();
}

void WRITE(std::initializer_list<Item> items) {
  placer->statement(items, false);
}
void WRITELN(std::initializer_list<Item> items) {
  placer->statement(items, true);
}

bool KEYPRESSED() {
  while (keyboard.held.empty() && take_input_record()) {
  }
  return !keyboard.held.empty();
}

std::uint8_t READKEY() {
  while (!KEYPRESSED()) Sleep(1);
  const std::uint8_t code = keyboard.held.front();
  keyboard.held.pop_front();
  return code;
}

}  // namespace console
