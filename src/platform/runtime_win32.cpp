// Only Win32 code: start-up, the fault filter, the report's output and load
// base, the end of the process.
#include <windows.h>

#include <cstdint>
#include <new>

#include "console/console.h"
#include "platform/cmdline.h"
#include "platform/runtime.h"
#include "platform/runtime_internal.h"
#include "platform/text_win32.h"

// The program's own image header: the load base that report addresses are
// counted from, so they fit eight hexadecimal digits.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace platform {

namespace {

constexpr int kOutOfMemory = 203;
constexpr int kAccessViolation = 216;
constexpr int kStackOverflow = 202;

// Stack kept back for the fault filter: a stack overflow leaves it no room
// otherwise.
constexpr ULONG kFaultStack = 64 * 1024;

// Faults the program knows become run-time stops; any other exception is
// left to the system. The faulting instruction's own line has no routine
// name: no line table is read.
LONG WINAPI on_fault(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_STACK_OVERFLOW) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  console::finish();
  report::Location own;
  own.address = detail::code_offset(exception->ExceptionRecord->ExceptionAddress);
  detail::report_and_end(code == EXCEPTION_STACK_OVERFLOW ? kStackOverflow : kAccessViolation, own);
}

void install_fault_filter() {
  ULONG reserve = kFaultStack;
  SetThreadStackGuarantee(&reserve);
  SetUnhandledExceptionFilter(on_fault);
}

[[noreturn]] void out_of_memory() {
  RUNERROR(kOutOfMemory);
}

}  // namespace

namespace detail {

std::uint32_t code_offset(const void* address) {
  const auto base = reinterpret_cast<std::uintptr_t>(&__ImageBase);
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) - base);
}

bool output_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

void write_output(std::string_view line) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
            nullptr);
}

void end_process(int status) {
  ExitProcess(static_cast<UINT>(status));
}

}  // namespace detail

// The command line is split by the program's own rules, not the C
// library's. It is read in wide characters and kept in UTF-8, so a root
// named in any characters reaches the system unchanged; the rules only look
// at ASCII bytes, which UTF-8 never uses inside another character.
void start(int, char**) {
  detail::set_arguments(split_command_line(utf8(GetCommandLineW())));
  install_fault_filter();
  std::set_new_handler(out_of_memory);
  console::start();
}

}  // namespace platform
