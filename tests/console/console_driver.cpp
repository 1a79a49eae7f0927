// Drives the console for the end-to-end tests: starts it, performs the
// operations named by the arguments in order, and ends. It shows everything,
// key codes included, through the console only.
//
//   bg=N  fg=N        TEXTBACKGROUND(N), TEXTCOLOR(N)
//   goto=X,Y          GOTOXY(X, Y)
//   clreol            CLREOL
//   write=TEXT        a write statement of TEXT (escapes: \e \n \r \t \\ \xHH)
//   writeln=TEXT      a write-line statement of TEXT; "writeln" alone: empty
//   letters=N         a write statement of N letters "abc...zabc..."
//   number=N          a write statement of the number N
//   readkey           READKEY once, shown as the line "R:code"
//   keys=N            N key presses, each shown as "K:code" or "K:0,code"
//   pressed           KEYPRESSED, shown as "P:1" or "P:0"
//   attr              TEXTATTR, shown as "A:attr"
//   sleep=MS          waits MS milliseconds
//   ready             the line "READY", to tell that start-up is over
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "console/console.h"

namespace {

std::string unescaped(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    const char kind = text[++i];
    if (kind == 'x' && i + 2 < text.size() + 1) {
      bytes += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      const std::string_view plain = "enrt\\", meant = "\x1b\n\r\t\\";
      const std::size_t at = plain.find(kind);
      bytes += at == std::string_view::npos ? kind : meant[at];
    }
  }
  return bytes;
}

std::string letters(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

void show_key_presses(int presses) {
  for (int i = 0; i < presses; ++i) {
    const std::uint8_t code = console::READKEY();
    if (code == 0) {
      console::WRITELN({"K:0,", std::int32_t{console::READKEY()}});
    } else {
      console::WRITELN({"K:", std::int32_t{code}});
    }
  }
}

// False for an operation the driver does not know.
bool perform(std::string_view operation) {
  const std::size_t equals = operation.find('=');
  const std::string_view name = operation.substr(0, equals);
  const std::string argument(equals == std::string_view::npos ? "" : operation.substr(equals + 1));
  const auto number = [&] { return std::stoi(argument); };
  if (name == "bg") {
    console::TEXTBACKGROUND(number());
  } else if (name == "fg") {
    console::TEXTCOLOR(number());
  } else if (name == "goto") {
    console::GOTOXY(std::stoi(argument), std::stoi(argument.substr(argument.find(',') + 1)));
  } else if (name == "clreol") {
    console::CLREOL();
  } else if (name == "write") {
    console::WRITE({unescaped(argument)});
  } else if (name == "writeln") {
    console::WRITELN({unescaped(argument)});
  } else if (name == "letters") {
    console::WRITE({letters(number())});
  } else if (name == "number") {
    console::WRITE({std::int32_t{number()}});
  } else if (name == "readkey") {
    console::WRITELN({"R:", std::int32_t{console::READKEY()}});
  } else if (name == "keys") {
    show_key_presses(number());
  } else if (name == "pressed") {
    console::WRITELN({"P:", console::KEYPRESSED() ? "1" : "0"});
  } else if (name == "attr") {
    console::WRITELN({"A:", std::int32_t{console::TEXTATTR()}});
  } else if (name == "sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(number()));
  } else if (name == "ready") {
    console::WRITELN({"READY"});
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  console::start();
  int status = 0;
  for (int i = 1; i < argc && status == 0; ++i) {
    if (!perform(argv[i])) {
      std::fprintf(stderr, "console_driver: unknown operation %s\n", argv[i]);
      status = 2;
    }
  }
  console::flush();
  console::finish();
  return status;
}
