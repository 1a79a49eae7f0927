// Run-time stops in forked children: exit status, and the report's lines as
// they reach standard output (a pipe, or a terminal for the caller cap).
#include "platform/runtime.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"

namespace {

struct Stopped {
  int status = -1;                 // exit status, or -1 when the child did not exit
  std::vector<std::string> lines;  // each without its CR LF
};

// Reads the child's output, which ends with its last descriptor.
std::string read_all(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(got));
  return text;
}

// Every line must end with CR LF; a line that does not is kept with a mark.
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back("<no CR LF>" + text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Runs body in a child whose standard output is a pipe, or a raw terminal
// when on_terminal; body is expected to end the process.
Stopped run_child(const std::function<void()>& body, bool on_terminal = false) {
  int reader = -1;
  int writer = -1;
  if (on_terminal) {
    termios raw{};
    cfmakeraw(&raw);
    EXPECT_EQ(openpty(&reader, &writer, nullptr, &raw, nullptr), 0);
  } else {
    int channel[2];
    EXPECT_EQ(pipe(channel), 0);
    reader = channel[0];
    writer = channel[1];
  }
  const pid_t child = fork();
  if (child == 0) {
    close(reader);
    dup2(writer, STDOUT_FILENO);
    close(writer);
    body();
    _exit(254);
  }
  close(writer);
  Stopped stopped;
  const std::string text = read_all(reader);
  close(reader);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) stopped.status = WEXITSTATUS(status);
  stopped.lines = split_lines(text);
  return stopped;
}

const std::string kThisFile = "tests/platform/runtime_test.cpp";

// "  $XXXXXXXX" and the rest of a location line, or the address of a
// headline.
std::string address_of(const std::string& line) {
  const std::size_t dollar = line.find('$');
  return dollar == std::string::npos ? "" : line.substr(dollar, 9);
}

// The address must be an offset into the program, not an absolute address.
bool is_program_offset(const std::string& address) {
  static const std::regex kForm("\\$[0-9A-F]{8}");
  if (!std::regex_match(address, kForm)) return false;
  struct stat program {};
  stat("/proc/self/exe", &program);
  const unsigned long offset = std::stoul(address.substr(1), nullptr, 16);
  return offset > 0 && offset < static_cast<unsigned long>(program.st_size);
}

// Checks the headline of a stop with number and returns its address.
std::string headline_address(const Stopped& stopped, int number) {
  const std::string address = address_of(stopped.lines.at(0));
  EXPECT_EQ(stopped.lines[0], "Runtime error " + std::to_string(number) + " at " + address);
  EXPECT_TRUE(is_program_offset(address)) << address;
  return address;
}

std::string location(const std::string& name, int line) {
  return "  " + name + ",  line " + std::to_string(line) + " of " + kThisFile;
}

// ---- Stops from checks --------------------------------------------------

constexpr int kStopInMainLine = __LINE__ + 3;
void stop_in_main() {
  platform::Routine routine("main");
  platform::RUNERROR(267);
}

TEST(RunError, InMainPrintsTheNumberUnreducedAndExitsModulo256) {
  const Stopped stopped = run_child(stop_in_main);
  EXPECT_EQ(stopped.status, 11);
  ASSERT_EQ(stopped.lines.size(), 3u);
  const std::string address = headline_address(stopped, 267);
  EXPECT_EQ(stopped.lines[1], "  " + address + location("main", kStopInMainLine));
  EXPECT_EQ(stopped.lines[2], "");
}

constexpr int kCheckLine = __LINE__ + 4;
void walk_with_pending_error(std::source_location caller = std::source_location::current()) {
  platform::Routine routine("FINDDEL", caller);
  platform::INOUTRES = 5;
  platform::CHECK_IO();
}

constexpr int kWalkCallLine = __LINE__ + 3;
void main_calling_walk() {
  platform::Routine routine("main");
  walk_with_pending_error();
}

void nest_and_stop(int depth, std::source_location caller = std::source_location::current()) {
  platform::Routine routine("FINDDEL", caller);
  if (depth < 0) return;
  if (depth > 0) nest_and_stop(depth - 1);
  platform::RUNERROR(3);
}

void main_nesting_deep() {
  platform::Routine routine("main");
  nest_and_stop(300);
}

TEST(RunError, CallerLinesAreCappedAt257OffATerminal) {
  const Stopped stopped = run_child(main_nesting_deep);
  EXPECT_EQ(stopped.status, 3);
  ASSERT_EQ(stopped.lines.size(), 1u + 1u + 257u + 1u);
  EXPECT_TRUE(stopped.lines[258].find("  FINDDEL,  line ") != std::string::npos);
  EXPECT_EQ(stopped.lines.back(), "");
}

TEST(RunError, CallerLinesAreCappedAt9OnATerminal) {
  const Stopped stopped = run_child(main_nesting_deep, true);
  EXPECT_EQ(stopped.status, 3);
  ASSERT_EQ(stopped.lines.size(), 1u + 1u + 9u + 1u);
  EXPECT_EQ(stopped.lines.back(), "");
}

struct OverflowCase {
  const char* label;
  std::function<void()> operation;
};

TEST(Overflow, StopsWith215) {
  const OverflowCase cases[] = {
      {"INC at the largest value",
       [] {
         std::int32_t x = INT32_MAX;
         platform::INC(x);
       }},
      {"INC below the smallest value",
       [] {
         std::int32_t x = INT32_MIN;
         platform::INC(x, -1);
       }},
      {"CHECKED_ADD past the largest value", [] { platform::CHECKED_ADD(INT32_MAX - 9, 10); }},
  };
  for (const OverflowCase& overflow : cases) {
    const Stopped stopped = run_child([&] {
      platform::Routine routine("main");
      overflow.operation();
    });
    EXPECT_EQ(stopped.status, 215) << overflow.label;
    ASSERT_FALSE(stopped.lines.empty()) << overflow.label;
    EXPECT_TRUE(stopped.lines[0].starts_with("Runtime error 215 at $")) << overflow.label;
  }
}

TEST(Overflow, SumsInRangeAreExact) {
  std::int32_t x = INT32_MAX - 1;
  platform::INC(x);
  EXPECT_EQ(x, INT32_MAX);
  std::int32_t y = -5;
  platform::INC(y, 3);
  EXPECT_EQ(y, -2);
  EXPECT_EQ(platform::CHECKED_ADD(INT32_MAX - 10, 10), INT32_MAX);
}

TEST(Halt, EndsWithTheStatusAndWritesNothing) {
  const Stopped stopped = run_child([] { platform::HALT(7); });
  EXPECT_EQ(stopped.status, 7);
  EXPECT_TRUE(stopped.lines.empty());
}

// ---- Stops from the fault handlers --------------------------------------

char program_name[] = "zarvelin";
char* program_argv[] = {program_name, nullptr};

void start_platform() {
  platform::start(1, program_argv);
}

volatile int* volatile nowhere = nullptr;

constexpr int kFaultCallLine = __LINE__ + 12;
// The fault is the point: the undefined-behaviour checker would end the
// process before the fault handler could see it.
__attribute__((no_sanitize("undefined"))) void write_through_null(
    std::source_location caller = std::source_location::current()) {
  platform::Routine routine("UPSTR", caller);
  *nowhere = 1;
}

void main_faulting() {
  start_platform();
  platform::Routine routine("main");
  write_through_null();
}

// A stop one routine below the main sequence: its own line (the routine's
// name and line, or the address alone for a fault), then the caller's.
struct ChainCase {
  const char* label;
  void (*body)();
  int number;
  std::string own;     // what follows the address on the stop's own line
  std::string caller;  // what follows the address on the caller's line
};

TEST(RunError, NamesTheRoutineAndItsCaller) {
  const ChainCase cases[] = {
      {"CHECK_IO with 5 pending", main_calling_walk, 5, location("FINDDEL", kCheckLine),
       location("main", kWalkCallLine)},
      {"access violation", main_faulting, 216, "", location("main", kFaultCallLine)},
  };
  for (const ChainCase& chain : cases) {
    SCOPED_TRACE(chain.label);
    const Stopped stopped = run_child(chain.body);
    EXPECT_EQ(stopped.status, chain.number);
    ASSERT_EQ(stopped.lines.size(), 4u);
    const std::string address = headline_address(stopped, chain.number);
    EXPECT_EQ(stopped.lines[1], "  " + address + chain.own);
    const std::string caller_address = address_of(stopped.lines[2]);
    EXPECT_TRUE(is_program_offset(caller_address)) << caller_address;
    EXPECT_NE(caller_address, address);
    EXPECT_EQ(stopped.lines[2], "  " + caller_address + chain.caller);
    EXPECT_EQ(stopped.lines[3], "");
  }
}

// Read at every level, so the compiler cannot see that the recursion never
// ends.
volatile bool keep_recursing = true;

int recurse_without_end(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (keep_recursing) return recurse_without_end(depth + 1) + frame[0];
  return frame[0];
}

TEST(Fault, RunawayRecursionStopsWith202) {
  const Stopped stopped = run_child([] {
    start_platform();
    platform::Routine routine("main");
    recurse_without_end(0);
  });
  EXPECT_EQ(stopped.status, 202);
  ASSERT_EQ(stopped.lines.size(), 3u);
  EXPECT_TRUE(stopped.lines[0].starts_with("Runtime error 202 at $"));
  EXPECT_EQ(stopped.lines[2], "");
}

void* volatile allocated = nullptr;

// The address sanitizer's allocator ends the process itself on such a
// request, so the stop is seen in the plain build only.
constexpr bool kAllocatorIsOurs =
#if defined(__SANITIZE_ADDRESS__)
    false;
#else
    true;
#endif

TEST(Fault, MemoryThatCannotBeObtainedStopsWith203) {
  if (!kAllocatorIsOurs) GTEST_SKIP() << "the sanitizer's allocator stops the process itself";
  const Stopped stopped = run_child([] {
    start_platform();
    platform::Routine routine("main");
    allocated = ::operator new(std::numeric_limits<std::size_t>::max() / 2);
  });
  EXPECT_EQ(stopped.status, 203);
  ASSERT_FALSE(stopped.lines.empty());
  EXPECT_TRUE(stopped.lines[0].starts_with("Runtime error 203 at $"));
}

// ---- Arguments ----------------------------------------------------------

struct ArgumentsCase {
  const char* label;
  std::vector<std::string> argv;
  std::string seen;  // PARAMCOUNT, then PARAMSTR(0..3) in brackets
};

std::string describe_arguments(std::vector<std::string> argv) {
  std::vector<char*> pointers;
  for (std::string& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  platform::start(static_cast<int>(argv.size()), pointers.data());
  std::string seen = std::to_string(platform::PARAMCOUNT());
  // Appended piece by piece: GCC 12 at -O3 takes "[" + string for an
  // overlapping copy (-Wrestrict), which would fail a Release build.
  for (int i = 0; i <= 3; ++i) {
    seen += '[';
    seen += platform::PARAMSTR(i);
    seen += ']';
  }
  return seen;
}

TEST(Arguments, AreTakenAsTheSystemHandsThemOver) {
  const ArgumentsCase cases[] = {
      {"no argv at all", {}, "-1[][][][]"},
      {"program alone", {"zarvelin"}, "0[zarvelin][][][]"},
      {"arguments kept whole", {"zarvelin", "a b", "", "\"q\""}, "3[zarvelin][a b][][\"q\"]"},
  };
  for (const ArgumentsCase& arguments : cases) {
    const Stopped stopped = run_child([&] {
      const std::string seen = describe_arguments(arguments.argv) + "\r\n";
      const ssize_t written = write(STDOUT_FILENO, seen.data(), seen.size());
      _exit(written > 0 ? 0 : 1);
    });
    EXPECT_EQ(stopped.status, 0) << arguments.label;
    EXPECT_EQ(stopped.lines, std::vector<std::string>{arguments.seen}) << arguments.label;
  }
}

}  // namespace
