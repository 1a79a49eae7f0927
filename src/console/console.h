// The screen and keyboard as the sweep sees them: one text window of
// character cells, measured once at start-up, a current colour attribute,
// write and write-line statements placed at the cursor, and single key codes
// read without echo.
//
// Rows and columns count from 1 at the window's top-left cell. When standard
// output is not a console every output, cursor and blanking operation does
// nothing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace console {

// One item of a write statement: a string, written as its bytes, or a signed
// 32-bit number, written as plain decimal ("-" only when negative).
class Item {
 public:
  Item(std::string_view text) : text_(text) {}
  Item(const char* text) : text_(text) {}
  Item(const std::string& text) : text_(text) {}
  Item(std::int32_t number) : digits_(std::to_string(number)), is_number_(true) {}

  std::string_view text() const { return is_number_ ? std::string_view(digits_) : text_; }

 private:
  std::string_view text_;
  std::string digits_;
  bool is_number_ = false;
};

// Measures the window, takes the console's colour attribute and readies the
// keyboard. Writes nothing, clears nothing. Called once by the platform's
// start-up, before the main sequence.
void start();

// Gives the console back as it was found (terminal modes, colours of later
// output); the screen's contents and the cursor stay. Writes no text.
// Safe to call more than once.
void finish();

// Puts on the screen whatever the statements so far have not yet put there
// (a terminal gathers them until a key is polled). The normal end and the
// run-time stop call it before finish(), and before writing anything to
// standard output themselves. finish() alone may also be called from a
// signal handler: it is async-signal-safe and still sends the output of
// every operation that was complete.
void flush();

// The current attribute byte: bits 0-3 foreground, 4-6 background, 7 bright
// background (PC colour numbering: 1 blue, 2 green, 4 red, 8 bright).
std::uint8_t TEXTATTR();
void TEXTBACKGROUND(int background);
void TEXTCOLOR(int colour);

// Moves the cursor; does nothing when x or y lies outside the window.
void GOTOXY(int x, int y);
// Blanks the cursor's row from the cursor to the right edge; the cursor stays.
void CLREOL();

// A write statement: the items at the cursor, no line end.
void WRITE(std::initializer_list<Item> items);
// A write-line statement: the items followed by the line end CR LF.
void WRITELN(std::initializer_list<Item> items = {});

// Is a key code ready? Never waits.
bool KEYPRESSED();
// Waits for one key code and returns it. An extended key gives 0, then its
// key code on the next call.
std::uint8_t READKEY();

}  // namespace console
