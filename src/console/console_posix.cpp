// Only POSIX code: the screen and keyboard on a terminal. Raw mode on the
// keyboard's tty, ANSI output to standard output gathered into one write per
// key poll, the cursor position query at start-up, and the terminal given
// back on every way out, signals included.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "console/ansi_sink.h"
#include "console/console.h"
#include "console/keys.h"
#include "console/placer.h"

namespace console {

namespace {

constexpr std::string_view SGR_RESET = "\x1b[0m";
constexpr std::string_view POSITION_QUERY = "\x1b[6n";
constexpr std::int64_t POSITION_WAIT_MS = 250;
// A terminal's colours cannot be read: the attribute starts as light grey
// on black.
constexpr std::uint8_t STARTING_ATTR = 0x07;
// What READKEY gives when there is no keyboard at all: Esc, so the prompt
// is cancelled and the final wait ends.
constexpr std::uint8_t NO_KEYBOARD_CODE = 27;

// Everything the signal handlers touch: plain values only.
struct Terminal {
  int out_fd = -1;  // standard output, when it is a terminal
  int key_fd = -1;  // the keyboard's tty, when there is one
  termios saved{};
  termios raw{};
  volatile std::sig_atomic_t raw_on = 0;
  volatile std::sig_atomic_t finished = 0;
  // Set on continuing after a stop: the terminal's colours were reset.
  volatile std::sig_atomic_t resumed = 0;
  // Set by SIGIO when the keyboard has bytes to read; starts set, so the
  // first check reads whatever was typed ahead.
  volatile std::sig_atomic_t keys_arrived = 1;
  // The terminal tells of arriving keys with SIGIO; without that the
  // keyboard is read at every check.
  bool keys_announced = false;
};
Terminal terminal;

// Async-signal-safe.
void write_all(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
}

void write_all(int fd, std::string_view bytes) {
  write_all(fd, bytes.data(), bytes.size());
}

// The terminal's bytes, gathered until a key is polled or they grow large.
// A fixed array and a committed length, so that a signal handler can send
// the bytes of every whole operation without touching anything else.
class PendingOutput final : public ByteStream {
 public:
  static constexpr std::size_t CAPACITY = 64 * 1024;

  void append(std::string_view bytes) override {
    if (size_ + bytes.size() > CAPACITY) send();
    if (bytes.size() > CAPACITY) {
      write_all(terminal.out_fd, bytes);
      return;
    }
    std::memcpy(bytes_ + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
  }

  void commit() override { committed_ = static_cast<std::sig_atomic_t>(size_); }

  void send() {
    committed_ = 0;
    write_all(terminal.out_fd, bytes_, size_);
    size_ = 0;
  }

  // Async-signal-safe; the process ends after it.
  void send_committed() {
    const auto committed = static_cast<std::size_t>(committed_);
    committed_ = 0;
    write_all(terminal.out_fd, bytes_, committed);
  }

 private:
  char bytes_[CAPACITY];
  std::size_t size_ = 0;
  volatile std::sig_atomic_t committed_ = 0;
};

PendingOutput pending;
NullSink no_screen;
std::optional<AnsiSink> ansi;
std::optional<Placer> placer;
std::optional<KeyDecoder> decoder;
HeldKey held;

std::int64_t now_ms() {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  return duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Before start() nothing can be written: a window that shows nothing.
Placer& window() {
  if (!placer)
    placer.emplace(no_screen, Window{}, Position{}, STARTING_ATTR, GlyphMode::SingleByte);
  if (terminal.resumed != 0) {
    terminal.resumed = 0;
    if (ansi) ansi->forget_terminal_state();
  }
  return *placer;
}

// Async-signal-safe.
void give_back_terminal() {
  if (terminal.out_fd >= 0) write_all(terminal.out_fd, SGR_RESET);
  if (terminal.raw_on != 0) {
    ::tcsetattr(terminal.key_fd, TCSANOW, &terminal.saved);
    terminal.raw_on = 0;
  }
}

// Async-signal-safe.
void take_terminal_again() {
  if (terminal.finished != 0 || terminal.key_fd < 0 || terminal.raw_on != 0) return;
  if (::tcsetattr(terminal.key_fd, TCSANOW, &terminal.raw) == 0) terminal.raw_on = 1;
  terminal.resumed = 1;
}

void install(int number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(number, &action, nullptr);
}

// Ctrl+C, Ctrl+\, SIGTERM, SIGHUP: the terminal is given back, then the
// signal ends the process by its default action, so whoever started it sees
// the status of an interrupted process.
extern "C" void end_by_signal(int number) {
  finish();
  ::signal(number, SIG_DFL);
  ::raise(number);
}

// Ctrl+Z: the terminal is given back while the process is stopped, and
// taken again when it continues.
extern "C" void stop_by_signal(int number) {
  const int saved_errno = errno;
  give_back_terminal();
  ::signal(number, SIG_DFL);
  ::raise(number);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, number);
  ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);  // the process stops here
  install(number, stop_by_signal);
  take_terminal_again();
  errno = saved_errno;
}

extern "C" void key_arrived(int) {
  terminal.keys_arrived = 1;
}

extern "C" void continue_by_signal(int) {
  const int saved_errno = errno;
  take_terminal_again();
  errno = saved_errno;
}

// A signal that whoever started the process ignores (nohup, a background
// job of a script) stays ignored.
void install_unless_ignored(int number, void (*handler)(int)) {
  struct sigaction current {};
  ::sigaction(number, nullptr, &current);
  if (current.sa_handler != SIG_IGN) install(number, handler);
}

void install_signal_handlers() {
  for (const int number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
    install_unless_ignored(number, end_by_signal);
  }
  install_unless_ignored(SIGTSTP, stop_by_signal);
  install(SIGCONT, continue_by_signal);
}

// Keys come from standard input when it is a terminal, else from the
// process's controlling terminal; redirected data is never a key press.
int open_keyboard() {
  if (::isatty(STDIN_FILENO) != 0) return STDIN_FILENO;
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0 && ::isatty(fd) == 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A walk checks the keyboard at every directory entry; reading it each time
// would cost a system call per entry. The terminal announces arriving bytes
// with SIGIO instead, on a description of the tty opened for that alone, so
// the file status of the standard input shared with the shell is left as
// it is.
void announce_keys() {
  if (terminal.key_fd < 0) return;
  char name[256];
  if (::ttyname_r(terminal.key_fd, name, sizeof name) != 0) return;
  const int fd = ::open(name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  install(SIGIO, key_arrived);
  if (::fcntl(fd, F_SETOWN, ::getpid()) == 0 && ::fcntl(fd, F_SETFL, O_ASYNC | O_NONBLOCK) == 0) {
    terminal.keys_announced = true;
    return;
  }
  ::close(fd);
}

// Whether the keyboard may hold bytes not read yet.
bool keys_may_be_waiting() {
  if (!terminal.keys_announced || decoder->unfinished_until()) return true;
  if (terminal.keys_arrived == 0) return false;
  terminal.keys_arrived = 0;
  return true;
}

// No echo, no line editing, Enter as CR (13), Ctrl+S and Ctrl+Q as keys;
// ISIG stays on so Ctrl+C and Ctrl+\ still end the process. Reads never
// wait. Keys typed ahead stay queued.
void enter_raw_mode() {
  if (terminal.key_fd < 0 || ::tcgetattr(terminal.key_fd, &terminal.saved) != 0) return;
  terminal.raw = terminal.saved;
  terminal.raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
  terminal.raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
  terminal.raw.c_cc[VMIN] = 0;
  terminal.raw.c_cc[VTIME] = 0;
  if (::tcsetattr(terminal.key_fd, TCSANOW, &terminal.raw) == 0) terminal.raw_on = 1;
}

// Measured once: a later change of the terminal's size does not move the
// window. 80 x 25 when the terminal does not tell.
Window measure_window() {
  winsize size{};
  if (terminal.out_fd >= 0 && ::ioctl(terminal.out_fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 &&
      size.ws_row > 0) {
    return Window{size.ws_col, size.ws_row};
  }
  return Window{};
}

// Every byte waiting on the keyboard, without waiting for more.
std::string read_waiting_bytes(int timeout_ms) {
  std::string bytes;
  pollfd keyboard{terminal.key_fd, POLLIN, 0};
  char chunk[256];
  while (::poll(&keyboard, 1, bytes.empty() ? timeout_ms : 0) > 0) {
    const ssize_t got = ::read(terminal.key_fd, chunk, sizeof chunk);
    if (got <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  return bytes;
}

// The terminal is asked where its cursor is. Keys typed before the answer
// comes are kept as keys. A terminal that does not answer within
// POSITION_WAIT_MS leaves the cursor assumed at the left of the bottom row,
// where new text cannot overwrite anything above it.
Position starting_cursor(Window window) {
  const Position assumed{1, window.height};
  if (terminal.out_fd < 0 || terminal.raw_on == 0) return assumed;
  write_all(terminal.out_fd, POSITION_QUERY);
  std::string received;
  const std::int64_t deadline = now_ms() + POSITION_WAIT_MS;
  for (std::int64_t left = POSITION_WAIT_MS; left > 0; left = deadline - now_ms()) {
    received += read_waiting_bytes(static_cast<int>(left));
    if (const std::optional<PositionReport> report = find_position_report(received)) {
      decoder->push(received.substr(0, report->begin) + received.substr(report->end), now_ms());
      return Position{std::min(report->column, window.width), std::min(report->row, window.height)};
    }
  }
  decoder->push(received, now_ms());
  return assumed;
}

// The codeset of the locale, as other terminal tools read it.
bool utf8_locale() {
  return locale_is_utf8(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
}

// An unfinished press is given the rest of its short wait here, at once,
// instead of over later polls: an Esc typed ahead of a quick walk then stops
// it at the first entry rather than being left for the final wait. Only an
// ESC or a split character makes a poll wait, and never longer than that.
void finish_unfinished_press() {
  while (const std::optional<std::int64_t> until = decoder->unfinished_until()) {
    const std::int64_t left = *until - now_ms();
    if (left <= 0) return;
    const std::string more = read_waiting_bytes(static_cast<int>(left));
    if (!more.empty()) decoder->push(more, now_ms());
  }
}

// Keys read so far, decoded, queued behind those typed earlier.
void read_keys() {
  if (terminal.key_fd < 0) return;
  const std::string bytes = read_waiting_bytes(0);
  if (!bytes.empty()) decoder->push(bytes, now_ms());
  finish_unfinished_press();
  const std::int64_t now = now_ms();
  while (const std::optional<Key> key = decoder->next(now)) held.typed(*key);
}

}  // namespace

void start() {
  if (decoder) return;
  terminal.out_fd = ::isatty(STDOUT_FILENO) != 0 ? STDOUT_FILENO : -1;
  terminal.key_fd = open_keyboard();
  const bool utf8 = utf8_locale();
  decoder.emplace(utf8);
  const Window measured = measure_window();
  install_signal_handlers();
  enter_raw_mode();
  announce_keys();
  const Position cursor = starting_cursor(measured);
  Sink* sink = &no_screen;
  if (terminal.out_fd >= 0) sink = &ansi.emplace(measured, pending);
  placer.emplace(*sink, measured, cursor, STARTING_ATTR,
                 utf8 ? GlyphMode::Utf8 : GlyphMode::SingleByte);
}

void flush() {
  if (terminal.out_fd >= 0 && terminal.finished == 0) pending.send();
}

void finish() {
  if (terminal.finished != 0) return;
  terminal.finished = 1;
  if (terminal.out_fd >= 0) pending.send_committed();
  give_back_terminal();
}

std::uint8_t TEXTATTR() {
  return window().attr();
}
void TEXTBACKGROUND(int background) {
  window().text_background(background);
}
void TEXTCOLOR(int colour) {
  window().text_colour(colour);
}

void GOTOXY(int x, int y) {
  window().gotoxy(x, y);
}
void CLREOL() {
  window().clreol();
}

void WRITE(std::initializer_list<Item> items) {
  window().statement(items, false);
}
void WRITELN(std::initializer_list<Item> items) {
  window().statement(items, true);
}

// The screen work since the last poll reaches the terminal first, in one
// write.
bool KEYPRESSED() {
  flush();
  if (held.pressed()) return true;
  if (keys_may_be_waiting()) read_keys();
  return held.pressed();
}

std::uint8_t READKEY() {
  if (terminal.key_fd < 0) {
    flush();
    return NO_KEYBOARD_CODE;
  }
  while (!KEYPRESSED()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return held.take();
}

}  // namespace console
