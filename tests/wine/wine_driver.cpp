// Runs one piece of the Windows run-time for the tests under Wine, after
// the program's own start-up:
//   wine_driver access-violation   a write through a null pointer: stop 216
//   wine_driver stack-overflow     endless recursion: stop 202
#include <string>

#include "platform/runtime.h"

namespace {

// Read through volatiles, so the compiler cannot see the fault coming.
int* volatile nowhere = nullptr;
volatile int never = -1;

void access_violation() {
  *nowhere = 1;
}

[[gnu::noinline]] int descend(int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  if (depth == never) return 0;
  return descend(depth + 1) + frame[0];
}

}  // namespace

int main(int argc, char** argv) {
  platform::start(argc, argv);
  platform::Routine routine("main");
  const std::string what = platform::PARAMSTR(1);
  if (what == "access-violation") access_violation();
  if (what == "stack-overflow") descend(0);
  platform::HALT(0);
}
