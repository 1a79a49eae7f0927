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

// The report of a fault is written on a stack of its own: after a stack
// overflow the faulting stack has no room left for it (Wine leaves the
// filter little more than one page, whatever guarantee is asked for).
constexpr SIZE_T kReportStack = 256 * 1024;
LPVOID report_fiber = nullptr;
int fault_number = 0;
report::Location fault_location;

void CALLBACK report_fault(LPVOID) {
  console::finish();
  detail::report_and_end(fault_number, fault_location);
}

// Faults the program knows become run-time stops; any other exception is
// left to the system. The faulting instruction's own line has no routine
// name: no line table is read.
LONG WINAPI on_fault(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  if (report_fiber == nullptr ||
      (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_STACK_OVERFLOW)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  fault_number = code == EXCEPTION_STACK_OVERFLOW ? kStackOverflow : kAccessViolation;
  fault_location.address = detail::code_offset(exception->ExceptionRecord->ExceptionAddress);
  SwitchToFiber(report_fiber);
  return EXCEPTION_CONTINUE_SEARCH;
}

// The thread becomes a fiber so that the filter can switch to the report's.
void install_fault_filter() {
  if (ConvertThreadToFiber(nullptr) != nullptr) {
    report_fiber = CreateFiber(kReportStack, report_fault, nullptr);
  }
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
