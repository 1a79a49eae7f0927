/* Runs one command the way the benchmark times it and prints one line of
 * key=value results: wall time, user and system time, peak memory of the
 * child, exit status.
 *
 *   driver plain   TIMEOUT ERRFILE [--follow] -- ARGV...
 *   driver pty     TIMEOUT ERRFILE [--follow] -- ARGV...
 *   driver ptynull TIMEOUT ERRFILE [--follow] -- ARGV...
 *
 * plain:   stdin and stdout /dev/null, stderr to ERRFILE (find, bfs).
 * pty:     an 80x25 pseudo-terminal on stdin, stdout and stderr. Waits for
 *          the prompt text, answers it with Enter, waits for the closing
 *          text, answers with a key, reads everything in big chunks. The last
 *          bytes drawn are saved to ERRFILE.
 * ptynull: keys come from an 80x25 pseudo-terminal on stdin; stdout is
 *          /dev/null, stderr goes to ERRFILE. Nothing to read, so the driver
 *          answers when the child sleeps in a read (seen in /proc).
 * --follow: the process that reads keys is a descendant (the command is
 *          wrapped by strace); watch the deepest one.
 *
 * Kept small and free of threads: the child is forked from this process, so
 * its peak memory starts from this process's small footprint, not from the
 * Python orchestrator's. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static const char PROMPT[] = " Press Enter - to DELETE, else Esc - quit?";
static const char CLOSING[] = " Have a nice DOS ! press any key...";
static const char CANCELED[] = " CANCELED !";
static const char DELETED[] = " Files Deleted : ";
/* A terminal answers where its cursor is: a fresh screen's top-left. */
static const char POSITION_QUERY[] = "\033[6n";
static const char POSITION_REPORT[] = "\033[1;1R";

enum { TAIL_SIZE = 16384, CHUNK = 1 << 16, POLL_NS = 500000 };
/* How long a key waits for the program to be seen waiting for it. */
static const long long KEY_WAIT_NS = 3000000000LL;

static long long now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static void sleep_ns(long ns) {
  struct timespec ts = {0, ns};
  nanosleep(&ts, NULL);
}

/* Past it the child is killed and the run reported as timed out. */
static long long deadline;

static int past_deadline(pid_t child) {
  if (now_ns() <= deadline) return 0;
  kill(child, SIGKILL);
  return 1;
}

static pid_t timed_child;

static void on_alarm(int sig) {
  (void)sig;
  kill(timed_child, SIGKILL);
}

/* Kills the child at the deadline even while this process sleeps in wait4. */
static void arm_deadline(pid_t child, double seconds) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = on_alarm;
  sigaction(SIGALRM, &action, NULL);
  timed_child = child;
  alarm((unsigned)seconds + 1);
}

static int child_gone(pid_t child) {
  siginfo_t info = {0};
  return waitid(P_PID, (id_t)child, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
}

static void die(const char* what) {
  perror(what);
  exit(2);
}

/* The deepest descendant along first children: the program under strace. */
static pid_t watched_pid(pid_t pid, int follow) {
  while (follow) {
    char path[64], buf[64];
    snprintf(path, sizeof path, "/proc/%d/task/%d/children", pid, pid);
    int fd = open(path, O_RDONLY);
    if (fd < 0) break;
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0) break;
    buf[n] = 0;
    pid_t child = (pid_t)atoi(buf);
    if (child <= 0) break;
    pid = child;
  }
  return pid;
}

/* The state letter of /proc/PID/stat: 'S' asleep, 't' stopped by a tracer
 * (strace stops its tracee at every system call, asleep or not). */
static char process_state(pid_t pid) {
  char path[64], buf[512];
  snprintf(path, sizeof path, "/proc/%d/stat", pid);
  int fd = open(path, O_RDONLY);
  if (fd < 0) return '?';
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return '?';
  buf[n] = 0;
  const char* after_name = strrchr(buf, ')');
  return after_name && after_name[1] == ' ' ? after_name[2] : '?';
}

/* True while the process sleeps in a call that waits for a key. */
static int sleeps_in_key_read(pid_t pid) {
  char path[64], buf[256];
  if (process_state(pid) != 'S') return 0;
  snprintf(path, sizeof path, "/proc/%d/syscall", pid);
  int fd = open(path, O_RDONLY);
  if (fd < 0) return 0;
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return 0;
  buf[n] = 0;
  if (strncmp(buf, "running", 7) == 0) return 0;
  char* args;
  long nr = strtol(buf, &args, 10);
  if (nr == SYS_read) return strtol(args, NULL, 16) == 0; /* keys come from stdin */
  /* A program may also poll for keys between short sleeps. */
  if (nr == SYS_nanosleep || nr == SYS_clock_nanosleep) return 1;
  if (nr == SYS_ppoll || nr == SYS_pselect6) return 1;
#ifdef SYS_poll
  if (nr == SYS_poll) return 1;
#endif
#ifdef SYS_select
  if (nr == SYS_select) return 1;
#endif
  return 0;
}

/* Waits (bounded) until the child sleeps waiting for a key. Returns 0 when
 * the wait ran out and the key goes out anyway. */
static int wait_for_key_read(pid_t child, int follow) {
  long long give_up = now_ns() + KEY_WAIT_NS;
  while (now_ns() < give_up) {
    if (sleeps_in_key_read(watched_pid(child, follow))) return 1;
    if (child_gone(child) || past_deadline(child)) return 0;
    sleep_ns(POLL_NS);
  }
  return 0;
}

static void send_bytes(int master, const char* bytes, size_t size) {
  while (size > 0) {
    ssize_t sent = write(master, bytes, size);
    if (sent < 0 && errno != EINTR) die("write to terminal");
    if (sent > 0) bytes += sent, size -= (size_t)sent;
  }
}

static void send_key(int master, char key) {
  send_bytes(master, &key, 1);
}

static void child_exec(char** argv) {
  setenv("TERM", "xterm", 1);
  execvp(argv[0], argv);
  perror(argv[0]);
  _exit(127);
}

static int open_or_die(const char* path, int flags) {
  int fd = open(path, flags, 0644);
  if (fd < 0) die(path);
  return fd;
}

/* Rolling copy of the last bytes drawn; big enough to hold the summary. */
struct tail {
  char buf[TAIL_SIZE];
  size_t len;
};

static void tail_add(struct tail* t, const char* data, size_t n) {
  if (n >= TAIL_SIZE) {
    memcpy(t->buf, data + n - TAIL_SIZE, TAIL_SIZE);
    t->len = TAIL_SIZE;
    return;
  }
  if (t->len + n > TAIL_SIZE) {
    size_t drop = t->len + n - TAIL_SIZE;
    memmove(t->buf, t->buf + drop, t->len - drop);
    t->len -= drop;
  }
  memcpy(t->buf + t->len, data, n);
  t->len += n;
}

static int tail_has(const struct tail* t, const char* needle) {
  return memmem(t->buf, t->len, needle, strlen(needle)) != NULL;
}

/* The number after the last " Files Deleted : ", -1 when not drawn. */
static long tail_deleted(const struct tail* t) {
  const char *found = NULL, *at = t->buf, *end = t->buf + t->len;
  size_t len = strlen(DELETED);
  while ((at = memmem(at, (size_t)(end - at), DELETED, len)) != NULL) found = at++;
  if (found == NULL) return -1;
  long value = 0;
  int digits = 0;
  for (const char* p = found + len; p < end && *p >= '0' && *p <= '9'; ++p, ++digits)
    value = value * 10 + (*p - '0');
  return digits ? value : -1;
}

struct outcome {
  long long out_bytes, enter_ns, closing_ns;
  long deleted;
  int forced_keys, canceled;
};

/* Reads everything the child draws, answering the two waits for a key. */
static void converse_pty(pid_t child, int master, int follow, struct outcome* out, struct tail* t) {
  static char chunk[CHUNK];
  int phase = 0; /* 0 prompt, 1 sweeping, 2 draining */
  int answered = 0;
  for (;;) {
    struct pollfd p = {master, POLLIN, 0};
    int ready = poll(&p, 1, 50);
    if (ready < 0 && errno != EINTR) die("poll");
    if (past_deadline(child)) return;
    if (ready <= 0) continue;
    ssize_t n = read(master, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return; /* EIO: the terminal's last user has gone */
    out->out_bytes += n;
    tail_add(t, chunk, (size_t)n);
    if (phase == 0 && !answered && tail_has(t, POSITION_QUERY)) {
      send_bytes(master, POSITION_REPORT, strlen(POSITION_REPORT));
      answered = 1;
    }
    if (phase == 0 && tail_has(t, PROMPT)) {
      out->forced_keys += !wait_for_key_read(child, follow);
      out->enter_ns = now_ns();
      send_key(master, '\r');
      phase = 1;
      t->len = 0;
    } else if (phase == 1 && tail_has(t, CLOSING)) {
      out->closing_ns = now_ns();
      out->forced_keys += !wait_for_key_read(child, follow);
      send_key(master, 'x');
      phase = 2;
    }
  }
}

/* Bytes the process has read so far (rchar in /proc/PID/io); -1 when gone. */
static long long bytes_read(pid_t pid) {
  char path[64], buf[512];
  snprintf(path, sizeof path, "/proc/%d/io", pid);
  int fd = open(path, O_RDONLY);
  if (fd < 0) return -1;
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return -1;
  buf[n] = 0;
  const char* rchar = strstr(buf, "rchar:");
  return rchar ? atoll(rchar + 6) : -1;
}

/* Keys for a child whose stdout shows nothing: Enter at the first wait, a
 * key at the next one. The next wait only counts once the child has read
 * Enter: until then it may still be asleep in the first read, the key on its
 * way through the terminal's buffers. */
static void converse_blind(pid_t child, int master, int follow, struct outcome* out) {
  out->forced_keys += !wait_for_key_read(child, follow);
  long long before = bytes_read(watched_pid(child, follow));
  out->enter_ns = now_ns();
  send_key(master, '\r');
  for (;;) {
    if (child_gone(child) || past_deadline(child)) return;
    long long now = bytes_read(watched_pid(child, follow));
    if (now < 0 || now > before) break;
    sleep_ns(POLL_NS);
  }
  for (;;) {
    if (child_gone(child) || past_deadline(child)) return;
    if (sleeps_in_key_read(watched_pid(child, follow))) break;
    sleep_ns(POLL_NS);
  }
  out->closing_ns = now_ns();
  send_key(master, 'x');
}

static void usage(void) {
  fprintf(stderr, "usage: driver plain|pty|ptynull TIMEOUT ERRFILE [--follow] -- ARGV...\n");
  exit(2);
}

int main(int argc, char** argv) {
  if (argc < 6) usage();
  const char* mode = argv[1];
  double timeout = atof(argv[2]);
  long long deadline_ns = (long long)(timeout * 1e9);
  const char* errfile = argv[3];
  int arg = 4, follow = 0;
  if (strcmp(argv[arg], "--follow") == 0) follow = 1, ++arg;
  if (strcmp(argv[arg++], "--") != 0 || arg >= argc) usage();
  char** cmd = argv + arg;

  struct winsize ws = {.ws_row = 25, .ws_col = 80};
  struct outcome out = {0, 0, 0, -1, 0, 0};
  static struct tail t;
  int master = -1, slave = -1;
  long long t0 = now_ns();
  deadline = t0 + deadline_ns;
  pid_t child;

  if (strcmp(mode, "pty") == 0) {
    child = forkpty(&master, NULL, NULL, &ws);
    if (child < 0) die("forkpty");
    if (child == 0) child_exec(cmd);
    arm_deadline(child, timeout);
    converse_pty(child, master, follow, &out, &t);
  } else if (strcmp(mode, "ptynull") == 0) {
    if (openpty(&master, &slave, NULL, NULL, &ws) < 0) die("openpty");
    child = fork();
    if (child < 0) die("fork");
    if (child == 0) {
      setsid();
      if (ioctl(slave, TIOCSCTTY, 0) < 0) die("TIOCSCTTY");
      dup2(slave, 0);
      dup2(open_or_die("/dev/null", O_WRONLY), 1);
      dup2(open_or_die(errfile, O_WRONLY | O_CREAT | O_TRUNC), 2);
      close(master);
      close(slave);
      child_exec(cmd);
    }
    arm_deadline(child, timeout);
    close(slave);
    converse_blind(child, master, follow, &out);
  } else if (strcmp(mode, "plain") == 0) {
    child = fork();
    if (child < 0) die("fork");
    if (child == 0) {
      dup2(open_or_die("/dev/null", O_RDONLY), 0);
      dup2(open_or_die("/dev/null", O_WRONLY), 1);
      dup2(open_or_die(errfile, O_WRONLY | O_CREAT | O_TRUNC), 2);
      child_exec(cmd);
    }
    arm_deadline(child, timeout);
  } else {
    usage();
  }

  int status = 0;
  struct rusage ru;
  while (wait4(child, &status, 0, &ru) < 0)
    if (errno != EINTR) die("wait4");
  long long wall = now_ns() - t0;

  if (strcmp(mode, "pty") == 0) {
    /* Whatever the child drew last: the deletion count, and the screen for
     * a failure report. */
    int fd = open_or_die(errfile, O_WRONLY | O_CREAT | O_TRUNC);
    if (write(fd, t.buf, t.len) < 0) die("write tail");
    close(fd);
    out.deleted = tail_deleted(&t);
    out.canceled = tail_has(&t, CANCELED);
  }
  printf(
      "wall_ns=%lld utime_us=%lld stime_us=%lld maxrss_kb=%ld exit=%d signal=%d "
      "out_bytes=%lld enter_at_ns=%lld sweep_ns=%lld deleted=%ld forced_keys=%d canceled=%d "
      "timed_out=%d\n",
      wall, (long long)ru.ru_utime.tv_sec * 1000000 + ru.ru_utime.tv_usec,
      (long long)ru.ru_stime.tv_sec * 1000000 + ru.ru_stime.tv_usec, ru.ru_maxrss,
      WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFSIGNALED(status) ? WTERMSIG(status) : 0,
      out.out_bytes, out.enter_ns ? out.enter_ns - t0 : 0,
      out.closing_ns && out.enter_ns ? out.closing_ns - out.enter_ns : 0, out.deleted,
      out.forced_keys, out.canceled, now_ns() > deadline);
  return 0;
}
