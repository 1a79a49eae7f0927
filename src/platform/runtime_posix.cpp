// Only POSIX (Linux) code: start-up, the fault handlers, the report's
// output and load base, the end of the process.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

#include "console/console.h"
#include "platform/runtime.h"
#include "platform/runtime_internal.h"

// The program's own ELF header: the load base that report addresses are
// counted from, so they fit eight hexadecimal digits.
extern "C" const char __ehdr_start;

namespace platform {

namespace {

constexpr int kOutOfMemory = 203;
constexpr int kAccessViolation = 216;
constexpr int kStackOverflow = 202;

// Faults within this distance of the main thread's stack limit are taken
// for a stack overflow: the kernel keeps a guard gap of this size below a
// growing stack.
constexpr std::uintptr_t kStackGuardReach = 1024 * 1024 + 64 * 1024;

// The fault handler runs here, since a stack overflow leaves no room on the
// stack itself.
alignas(16) char fault_stack[64 * 1024];

std::uintptr_t main_stack_limit = 0;

// Deep trees hold one open directory per level.
void raise_descriptor_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

void note_main_stack_limit() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* lowest = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attributes, &lowest, &size) == 0) {
    main_stack_limit = reinterpret_cast<std::uintptr_t>(lowest);
  }
  pthread_attr_destroy(&attributes);
}

bool near_stack_limit(const void* fault_address) {
  const auto address = reinterpret_cast<std::uintptr_t>(fault_address);
  if (main_stack_limit == 0) return false;
  const std::uintptr_t distance =
      address > main_stack_limit ? address - main_stack_limit : main_stack_limit - address;
  return distance <= kStackGuardReach;
}

const void* faulting_instruction(const void* context) {
  const auto* machine = &static_cast<const ucontext_t*>(context)->uc_mcontext;
#if defined(__x86_64__)
  return reinterpret_cast<const void*>(machine->gregs[REG_RIP]);
#elif defined(__aarch64__)
  return reinterpret_cast<const void*>(machine->pc);
#else
  static_cast<void>(machine);
  return nullptr;
#endif
}

// Async-signal-safe from here on: the console is given back, the report is
// written with write() alone. The faulting instruction's own line has no
// routine name: no line table is read.
void on_fault(int, siginfo_t* info, void* context) {
  const int number = near_stack_limit(info->si_addr) ? kStackOverflow : kAccessViolation;
  console::finish();
  report::Location own;
  own.address = detail::code_offset(faulting_instruction(context));
  detail::report_and_end(number, own);
}

void install_fault_handlers() {
  stack_t alternate{};
  alternate.ss_sp = fault_stack;
  alternate.ss_size = sizeof fault_stack;
  sigaltstack(&alternate, nullptr);
  struct sigaction action {};
  action.sa_sigaction = on_fault;
  action.sa_flags = static_cast<int>(SA_SIGINFO | SA_ONSTACK | SA_RESETHAND);
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, nullptr);
  sigaction(SIGBUS, &action, nullptr);
}

[[noreturn]] void out_of_memory() {
  RUNERROR(kOutOfMemory);
}

}  // namespace

namespace detail {

std::uint32_t code_offset(const void* address) {
  const auto base = reinterpret_cast<std::uintptr_t>(&__ehdr_start);
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) - base);
}

bool output_is_terminal() {
  return isatty(STDOUT_FILENO) == 1;
}

void write_output(std::string_view line) {
  while (!line.empty()) {
    const ssize_t written = write(STDOUT_FILENO, line.data(), line.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    line.remove_prefix(static_cast<std::size_t>(written));
  }
}

void end_process(int status) {
  _exit(status);
}

}  // namespace detail

// argv is used as the system hands it over; argc 0 gives PARAMCOUNT -1.
void start(int argc, char** argv) {
  detail::set_arguments({argv, argv + argc});
  raise_descriptor_limit();
  note_main_stack_limit();
  install_fault_handlers();
  std::set_new_handler(out_of_memory);
  console::start();
}

}  // namespace platform
