// The whole run: banner and prompt, one key, then either the sweep of one
// root or of every root followed by the summary, or the cancel line; both
// ways end with one more key.
#include <string>
#include <utility>

#include "console/console.h"
#include "platform/files.h"
#include "platform/runtime.h"
#include "sweep/sweep.h"

namespace sweep {

namespace {

constexpr std::uint8_t ENTER = 13;

// The directory that was current when the sweep began.
std::string OP;

// A write-line statement with error checking on.
void checked_writeln(std::initializer_list<console::Item> items = {},
                     std::source_location where = std::source_location::current()) {
  console::WRITELN(items);
  platform::CHECK_IO(where);
}

void show_banner_and_prompt() {
  checked_writeln({" ZARVELIN v1.1, by Vesk edition, (Norr-Kavesh compiled)"});
  checked_writeln({" WARNING - Thumbs.db will DELETED on your HARD-drivers!"});
  checked_writeln({" USE \"c:\" for one driver, else all drivers to clear"});
  checked_writeln({" Press Enter - to DELETE, else Esc - quit?"});
}

// The root named on the command line, or every root that can be entered.
// An empty root names no directory: nothing is walked.
void sweep_roots() {
  if (platform::PARAMCOUNT() != 0) {
    const std::string root = platform::PARAMSTR(1);
    if (!root.empty()) FINDDEL(platform::FULL_ROOT(root), platform::OPEN_ROOT(root));
    return;
  }
  // Every root is probed, also after an abort; only the walk is skipped.
  for (const std::string& root : platform::DRIVE_ROOTS()) {
    platform::Dir dir = platform::OPEN_DRIVE_ROOT(root);
    if (dir.valid() && !ALLEX) FINDDEL(root, std::move(dir));
  }
}

void sweep_and_summarise() {
  checked_writeln({" Process... "});
  for (int line = 0; line < 4; ++line) checked_writeln();
  OP = platform::GETDIR();
  sweep_roots();
  platform::CHDIR(OP);
  platform::CHECK_IO();
  for (int line = 0; line < 3; ++line) checked_writeln();
  if (!ALLEX) {
    checked_writeln({" Process Ok !"});
  } else {
    checked_writeln({" Process ABORTED !!!"});
    checked_writeln();
  }
  checked_writeln({" Files Deleted : ", COLT});
}

}  // namespace

void MAIN_SEQUENCE() {
  platform::Routine routine("main");
  console::TEXTBACKGROUND(0);
  console::TEXTCOLOR(7);
  ALLEX = false;
  COLF = COLD = COLT = OLDF = 0;
  show_banner_and_prompt();
  if (console::READKEY() == ENTER) {
    sweep_and_summarise();
  } else {
    // Any other code cancels, the 0 that starts an extended key included;
    // its second code is left for the final wait.
    checked_writeln({" CANCELED !"});
  }
  checked_writeln({" Have a nice DOS ! press any key..."});
  if (console::READKEY() == 0) console::READKEY();
  platform::HALT(0);
}

}  // namespace sweep
