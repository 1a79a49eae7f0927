// What the portable run-time (runtime.cpp) and each platform's half
// (runtime_<platform>.cpp) give each other.
#pragma once

#include <cstdint>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "platform/report.h"

namespace platform::detail {

// ---- Given by the portable half ----

// The arguments as the platform delivers them, the program's name first.
void set_arguments(std::vector<std::string> arguments);

// Writes the report of a stop whose own location is known and ends the
// process with number modulo 256. Safe in a fault handler.
[[noreturn]] void report_and_end(int number, const report::Location& stop);

// ---- Given by each platform ----

// A code address as an offset from the program's load base.
std::uint32_t code_offset(const void* address);
// Whether standard output is a terminal (fewer caller lines then).
bool output_is_terminal();
// Writes one report line to standard output at once. Safe in a fault
// handler.
void write_output(std::string_view line);
// Ends the process with status; nothing more is written or flushed.
[[noreturn]] void end_process(int status);

}  // namespace platform::detail
