// The run-time shared by every platform: arguments, overflow-checked
// arithmetic, the I/O check, routine frames and the run-time stop.
#include "platform/runtime.h"

#include <array>
#include <cstdlib>
#include <utility>

#include "console/console.h"
#include "platform/files.h"
#include "platform/runtime_internal.h"

namespace platform {

namespace {

std::vector<std::string> program_arguments;

// The innermost routine that is running; the report's location lines are
// read from this chain.
Routine* innermost_routine = nullptr;

constexpr std::size_t kCallersOnTerminal = 9;
constexpr std::size_t kCallersOtherwise = 257;
constexpr int kArithmeticOverflow = 215;

// The run-time stop proper: the console is given back without a word, then
// the report and the end.
[[noreturn]] void stop(int number, const std::source_location& where, const void* address) {
  console::flush();
  console::finish();
  report::Location own;
  own.address = detail::code_offset(address);
  if (innermost_routine != nullptr) {
    own.name = innermost_routine->name();
    own.line = where.line();
    own.file = where.file_name();
  }
  detail::report_and_end(number, own);
}

}  // namespace

namespace detail {

void set_arguments(std::vector<std::string> arguments) {
  program_arguments = std::move(arguments);
}

void report_and_end(int number, const report::Location& stop_location) {
  std::array<report::Location, kCallersOtherwise> callers;
  const std::size_t cap = output_is_terminal() ? kCallersOnTerminal : kCallersOtherwise;
  std::size_t count = 0;
  // Each frame names the routine that called it, on the line it stands on;
  // the main sequence has no caller of its own.
  for (const Routine* frame = innermost_routine;
       frame != nullptr && frame->outer() != nullptr && count < cap; frame = frame->outer()) {
    callers[count++] = {code_offset(frame->return_address()), frame->outer()->name(),
                        frame->caller().line(), frame->caller().file_name()};
  }
  report::write_report(number, stop_location, {callers.data(), count}, write_output);
  end_process(number % 256);
}

}  // namespace detail

Routine::Routine(const char* name, std::source_location caller, const void* return_address)
    : name_(name), caller_(caller), return_address_(return_address), outer_(innermost_routine) {
  innermost_routine = this;
}

Routine::~Routine() {
  innermost_routine = outer_;
}

int PARAMCOUNT() {
  return static_cast<int>(program_arguments.size()) - 1;
}

std::string PARAMSTR(int i) {
  if (i < 0 || static_cast<std::size_t>(i) >= program_arguments.size()) return {};
  return program_arguments[static_cast<std::size_t>(i)];
}

void HALT(int status) {
  console::flush();
  console::finish();
  std::exit(status);
}

// The checks below are never inlined, so the address a stop reports is the
// one in the routine that made the check.
[[gnu::noinline]] void RUNERROR(int number, std::source_location where) {
  stop(number, where, __builtin_return_address(0));
}

[[gnu::noinline]] void CHECK_IO(std::source_location where) {
  if (INOUTRES != 0) stop(IORESULT(), where, __builtin_return_address(0));
}

[[gnu::noinline]] void INC(std::int32_t& x, std::int32_t by, std::source_location where) {
  std::int32_t sum = 0;
  if (__builtin_add_overflow(x, by, &sum))
    stop(kArithmeticOverflow, where, __builtin_return_address(0));
  x = sum;
}

[[gnu::noinline]] std::int32_t CHECKED_ADD(std::int32_t a, std::int32_t b,
                                           std::source_location where) {
  std::int32_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum))
    stop(kArithmeticOverflow, where, __builtin_return_address(0));
  return sum;
}

}  // namespace platform
