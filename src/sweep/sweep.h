// The program's own logic: the main sequence from the banner to the final
// key, and the walk that deletes every THUMBS.DB below a root.
#pragma once

#include <cstdint>
#include <source_location>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace sweep {

// Tallies of the whole run: directory entries visited (one per pass of the
// walk's loop), directories entered, THUMBS.DB files handed to the erase,
// and the value of COLF when the periodic tally line was last written.
extern std::int32_t COLF;
extern std::int32_t COLD;
extern std::int32_t COLT;
extern std::int32_t OLDF;
// Set when the user presses Esc during the walk; never cleared afterwards.
extern bool ALLEX;

// S with "a" to "z" turned into "A" to "Z"; every other byte unchanged.
std::string UPSTR(std::string_view S);

// Walks the directory dir, shown on the screen as P, depth first: counts
// every entry, enters every subdirectory, erases every THUMBS.DB.
void FINDDEL(std::string P, platform::Dir dir,
             std::source_location caller = std::source_location::current());

// The whole run, from the banner to the final key; never returns.
[[noreturn]] void MAIN_SEQUENCE();

}  // namespace sweep
