// Process start-up and end: the command line, the run-time stop with its
// report, and the routine frames the report's location lines are read from.
#pragma once

#include <cstdint>
#include <source_location>
#include <string>

namespace platform {

// Start-up, before the main sequence's first statement: installs the fault
// handlers (access violation 216, stack overflow 202) and the out-of-memory
// stop (203), raises the descriptor limit, takes the command line and starts
// the console.
void start(int argc, char** argv);

// Number of arguments after the program's name; -1 for a completely empty
// command line.
int PARAMCOUNT();
// Argument i (1 for the first after the program's name), or "" when absent.
std::string PARAMSTR(int i);

// The normal end: gives the console back and ends the process with status.
[[noreturn]] void HALT(int status);

// A run-time stop: gives the console back silently, writes the report
// ("Runtime error N at $XXXXXXXX", location lines, an empty line) to standard
// output directly and ends the process with status N modulo 256.
[[noreturn]] void RUNERROR(int number,
                           std::source_location where = std::source_location::current());

// The check made after an operation with error checking on: when an I/O
// error is pending, it is reset and the program stops with its number.
void CHECK_IO(std::source_location where = std::source_location::current());

// x := x + by, stopping with 215 when the sum would pass the 32-bit range.
void INC(std::int32_t& x, std::int32_t by = 1,
         std::source_location where = std::source_location::current());
// a + b, stopping with 215 when the sum would pass the 32-bit range.
std::int32_t CHECKED_ADD(std::int32_t a, std::int32_t b,
                         std::source_location where = std::source_location::current());

// One routine of the call chain, for the report's location lines. A routine
// declares one on entry:
//   platform::Routine routine("FINDDEL", caller);
// where caller is a std::source_location default argument of the routine,
// so the report can name the line each caller stands on.
class Routine {
 public:
  explicit Routine(const char* name, std::source_location caller = std::source_location::current(),
                   const void* return_address = __builtin_return_address(0));
  ~Routine();
  Routine(const Routine&) = delete;
  Routine& operator=(const Routine&) = delete;

  const char* name() const { return name_; }
  const std::source_location& caller() const { return caller_; }
  const void* return_address() const { return return_address_; }
  const Routine* outer() const { return outer_; }

 private:
  const char* name_;
  std::source_location caller_;
  const void* return_address_;
  Routine* outer_;
};

}  // namespace platform
