// The tree walk. Each pass of the loop handles one directory entry: count
// it, maybe rewrite the tally line, watch for Esc, probe the entry, walk it
// when it is a directory, erase it when it is a THUMBS.DB.
#include <utility>

#include "console/console.h"
#include "platform/runtime.h"
#include "sweep/sweep.h"

namespace sweep {

std::int32_t COLF = 0;
std::int32_t COLD = 0;
std::int32_t COLT = 0;
std::int32_t OLDF = 0;
bool ALLEX = false;

namespace {

constexpr std::uint8_t ESC = 27;
constexpr int TALLY_ROW = 21;
constexpr int SCANNING_ROW = 22;
constexpr int LAST_PROGRESS_ROW = 25;

// Bound afresh to each file to erase; never opened.
platform::File FF;

char UPCASE(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool is_dot_entry(const std::string& name) {
  return name == "." || name == "..";
}

// UPSTR(name) = "THUMBS.DB"; a name of another length cannot match, so
// only names of nine bytes are upper-cased at all.
bool is_thumbs(const std::string& name) {
  constexpr std::string_view THUMBS = "THUMBS.DB";
  return name.size() == THUMBS.size() && UPSTR(name) == THUMBS;
}

// Cuts the shared path back to the length it had when the guard was made.
class PathRestorer {
 public:
  explicit PathRestorer(std::string& path) : path_(path), length_(path.size()) {}
  ~PathRestorer() { path_.resize(length_); }
  PathRestorer(const PathRestorer&) = delete;
  PathRestorer& operator=(const PathRestorer&) = delete;

 private:
  std::string& path_;
  std::size_t length_;
};

// Rewritten on every 11th pass, not every 10th: the test is OLDF + 10 < COLF.
// Written with checking off: a pending error would only silence it.
void write_periodic_tally() {
  if (platform::CHECKED_ADD(OLDF, 10) < COLF) {
    console::GOTOXY(1, TALLY_ROW);
    OLDF = COLF;
    console::WRITELN({"Col Dir - ", COLD, " : Col Files - ", COLF, " : Deleted - ", COLT});
  }
}

// Any key but Esc is dropped. Returns true when the walk must end.
bool abort_key_pressed() {
  if (console::KEYPRESSED() && console::READKEY() == ESC) {
    ALLEX = true;
    console::WRITELN({" ABORTED !..."});
    return true;
  }
  return false;
}

// Row 21 is not blanked first: a shorter line leaves the " : Deleted - "
// tail of the last periodic line visible. Rows 23 to 25 are blanked so a
// long scanning line of an earlier directory does not linger.
void show_entered_directory(const std::string& P, const std::string& name) {
  console::GOTOXY(1, TALLY_ROW);
  console::WRITELN({"Col Dir - ", COLD, " : Col Files - ", COLF});
  platform::CHECK_IO();
  for (int row = SCANNING_ROW + 1; row <= LAST_PROGRESS_ROW; ++row) {
    console::GOTOXY(1, row);
    console::CLREOL();
  }
  console::GOTOXY(1, SCANNING_ROW);
  console::WRITE({"Scanning--->", P, name});
  platform::CHECK_IO();
  console::CLREOL();
}

}  // namespace

std::string UPSTR(std::string_view S) {
  std::string upper(S);
  for (char& c : upper) c = UPCASE(c);
  return upper;
}

namespace {

// The walk proper. P is one buffer for the whole walk: each level appends
// its separator and, for a descent, the entry's name, and cuts them off again
// when done. Each level sees exactly the path it would hold as a copy of its
// own, while memory grows with the path's length instead of its square.
void walk(std::string& P, platform::Dir dir, std::source_location caller) {
  platform::Routine routine("FINDDEL", caller);
  const PathRestorer restore_on_return(P);
  bool ENDF = false;
  platform::Searchrec F;
  if (P.empty() || P.back() != platform::SEPARATOR) P += platform::SEPARATOR;
  // The status is not examined: a listing that cannot be begun still costs
  // one pass, with a name that names nothing.
  platform::FINDFIRST(std::move(dir), F);
  do {
    platform::INC(COLF);
    write_periodic_tally();
    if (F.NAME == ".") platform::FINDNEXT(F);
    if (F.NAME == "..") platform::FINDNEXT(F);
    if (abort_key_pressed()) ENDF = true;
    // ALLEX is program-wide: every enclosing call ends after its next pass.
    if (ALLEX) ENDF = true;
    platform::Dir entered = platform::PROBE(F);
    const bool DIRF = platform::IORESULT() == 0;
    if (!ALLEX && DIRF && !is_dot_entry(F.NAME)) {
      platform::INC(COLD);
      show_entered_directory(P, F.NAME);
      const PathRestorer restore_after_descent(P);
      P += F.NAME;
      walk(P, std::move(entered), std::source_location::current());
    }
    // Counted before the erase: a failed erase stops the program with the
    // file already in COLT.
    if (is_thumbs(F.NAME)) {
      platform::INC(COLT);
      platform::ASSIGN(FF, F);
      platform::ERASE(FF);
      platform::CHECK_IO();
    }
    platform::FINDNEXT(F);
    if (platform::DOSERROR != 0) ENDF = true;
  } while (!ENDF);
}

}  // namespace

void FINDDEL(std::string P, platform::Dir dir, std::source_location caller) {
  walk(P, std::move(dir), caller);
}

}  // namespace sweep
