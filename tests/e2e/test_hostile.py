"""Hostile trees for the real binary in a real terminal: depth far past the
system's path limit and under a low descriptor limit, link loops and links
out of the tree, names that try to drive the terminal, permissions, another
process changing the tree during the walk, FIFOs and sockets, and very wide
and very large trees with the memory they cost.

Each case checks what is deleted, what is kept, the tallies or the summary
on the screen, and the exit status. ZARVELIN_LONG_TESTS=1 adds the tree of a
million entries.
"""

import os
import random
import re
import shutil
import socket
import stat
import subprocess
import tempfile
import threading
import time
import unittest

import test_sweep as sweep
from terminal import Terminal

FINAL = sweep.FINAL
PROMPT = sweep.PROMPT
NOBODY = sweep.NOBODY
AS_NOBODY = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"]
LONG_TESTS = os.environ.get("ZARVELIN_LONG_TESTS") == "1"


# --- helpers shared with test_terminal_promises -----------------------------

def read_text(path: str) -> str:
    with open(path, errors="replace") as f:
        return f.read()


def sanitizer_env(test: unittest.TestCase, traced: bool = False) -> dict:
    """Sanitizer reports of a sanitized build go to a directory that any user
    may write (the program may run as nobody); the test fails when one is
    there. A build without sanitizers ignores the variables. traced: the
    program runs under strace, where the leak checker cannot work."""
    logs = tempfile.mkdtemp(prefix="zarvelin-sanitizer-")
    os.chmod(logs, 0o1777)

    def no_reports():
        found = sorted(os.listdir(logs))
        texts = [read_text(os.path.join(logs, name)) for name in found]
        shutil.rmtree(logs, ignore_errors=True)
        if found:
            raise AssertionError("sanitizer reports:\n" + "\n".join(texts))

    test.addCleanup(no_reports)
    return {"ASAN_OPTIONS": f"log_path={logs}/asan:detect_leaks={0 if traced else 1}",
            "UBSAN_OPTIONS": f"log_path={logs}/ubsan:print_stacktrace=1"}


def shell(command: str, *args: str) -> list:
    """The program run by sh -c: command holds "$@" where the program and its
    arguments go."""
    return ["sh", "-c", command, "sh", *args]


def screen_text(term: Terminal) -> str:
    """The screen's rows side by side, each padded to the width: text that
    wrapped over several rows reads as one."""
    return "".join(row.ljust(term.width) for row in term.rows())


def summary(term: Terminal) -> list:
    rows = term.rows()
    end = rows.index(FINAL)
    return rows[end - 2:end]


def settle(pid: int, quiet: float = 0.5, timeout: float = 120) -> None:
    """Waits until the process uses no CPU for `quiet` seconds: it waits for
    a key."""
    def cpu() -> int:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])

    deadline = time.monotonic() + timeout
    last, since = cpu(), time.monotonic()
    while time.monotonic() - since < quiet:
        if time.monotonic() > deadline:
            raise AssertionError("the program kept busy")
        time.sleep(0.1)
        now = cpu()
        if now != last:
            last, since = now, time.monotonic()


def proc_status(pid: int, field: str) -> int:
    """A field of /proc/<pid>/status in kB (VmHWM: the peak resident memory)."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise AssertionError(f"no {field} for {pid}")


def make_chain(root: str, names, leaf_every: int = 0, leaf: bytes = b"THUMBS.DB") -> None:
    """A chain of directories root/names[0]/names[1]/...; with leaf_every,
    a file named leaf in every leaf_every-th level and the deepest."""
    fd = os.open(root, os.O_RDONLY)
    try:
        for depth, name in enumerate(names, 1):
            os.mkdir(name, dir_fd=fd)
            below = os.open(name, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = below
            if leaf_every and (depth % leaf_every == 0 or depth == len(names)):
                os.close(os.open(leaf, os.O_CREAT | os.O_WRONLY, dir_fd=fd))
    finally:
        os.close(fd)


def count_chain_leaves(root: str, leaf: bytes = b"THUMBS.DB") -> int:
    """How many files named leaf are left along a chain of any depth."""
    found, fd = 0, os.open(root, os.O_RDONLY)
    try:
        while True:
            names = os.listdir(fd)
            found += leaf.decode() in names
            below = [n for n in names if os.path.isdir(os.path.join(f"/proc/self/fd/{fd}", n))]
            if not below:
                return found
            nxt = os.open(below[0], os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = nxt
    finally:
        os.close(fd)


def snapshot(root: str) -> dict:
    """Every entry below root (links not followed) with what identifies it."""
    seen = {}
    for parent, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(parent, name)
            info = os.lstat(path)
            seen[os.path.relpath(path, root)] = (info.st_ino, info.st_mode, info.st_size,
                                                 info.st_mtime_ns)
    return seen


class Hostile(sweep.Sweep):
    """Runs the program on self.tree, its own sanitizer logs checked."""

    def run_program(self, *, prefix=(), before="", stdout=None, height=25, width=80, traced=False):
        """Starts the program on self.tree and waits for the prompt. prefix:
        a command it runs under (e.g. setpriv); before: shell text run first
        (e.g. ulimit); stdout: a file its standard output goes to (no screen:
        the prompt is not waited for)."""
        command = [*prefix, sweep.program(), self.tree]
        if before or stdout:
            redirect = ' >"$ZARVELIN_OUT"' if stdout else ""
            command = shell(f'{before}{"; " if before else ""}exec "$@"{redirect}', *command)
        env = sanitizer_env(self, traced)
        if stdout:
            env["ZARVELIN_OUT"] = stdout
        term = Terminal(command, width=width, height=height, cwd=self.tree, env=env).start()
        self.addCleanup(term.close)
        if not stdout:
            term.wait_for(PROMPT)
        return term

    def sweep_to_the_end(self, term, timeout=120):
        term.send_keys("Enter")
        term.wait_for(FINAL, timeout=timeout)

    def end_blind(self, term, timeout=300) -> int:
        """With no screen: once the walk is done and the program waits, the
        peak memory; then the final key."""
        settle(term.pid(), timeout=timeout)
        peak = proc_status(term.pid(), "VmHWM")
        term.send_text("x")
        self.assertEqual(term.wait_exit().status, 0)
        return peak

    def output_file(self) -> str:
        directory = tempfile.mkdtemp(prefix="zarvelin-out-")
        os.chmod(directory, 0o777)
        self.addCleanup(shutil.rmtree, directory, ignore_errors=True)
        return os.path.join(directory, "stdout")

    def outside(self, entries) -> str:
        directory = tempfile.mkdtemp(prefix="zarvelin-outside-")
        self.addCleanup(shutil.rmtree, directory, ignore_errors=True)
        sweep.make_tree(directory, entries)
        return directory

    def baseline_peak(self) -> int:
        """The peak memory of a run on a tree of one file, as the deep runs
        are made: standard output to a file."""
        tree, self.tree = self.tree, tempfile.mkdtemp(prefix="zarvelin-small-")
        self.addCleanup(shutil.rmtree, self.tree, ignore_errors=True)
        sweep.make_tree(self.tree, ["thumbs.db"])
        term = self.run_program(stdout=self.output_file())
        term.send_keys("Enter")
        peak = self.end_blind(term)
        self.tree = tree
        return peak


# --- depth ------------------------------------------------------------------

class Depth(Hostile):
    def test_10000_levels_under_64_descriptors_are_walked_in_bounded_memory(self):
        # Standard output is a file: the scanning lines of such a tree add up
        # to hundreds of megabytes. The hard limit is lowered too, since the
        # program raises its soft limit to the hard one.
        baseline = self.baseline_peak()
        make_chain(self.tree, ["d"] * 10000, leaf_every=1000)
        out = self.output_file()
        term = self.run_program(before="ulimit -n 64", stdout=out)
        term.send_keys("Enter")
        settle(term.pid(), timeout=600)
        with open(f"/proc/{term.pid()}/limits") as f:
            self.assertRegex(f.read(), r"Max open files\s+64\s+64")
        self.assertLessEqual(len(os.listdir(f"/proc/{term.pid()}/fd")), 64)
        peak = self.end_blind(term)
        self.assertEqual(count_chain_leaves(self.tree), 0)
        self.assertEqual(os.path.getsize(out), 0)
        # One level costs its name, its listing's last batch and a frame:
        # far below a kilobyte... plus the one path buffer of up to 20 kB.
        print(f"\n10,000 levels: peak {peak} kB, one-file tree {baseline} kB")
        if not sanitized():
            self.assertLess(peak - baseline, 32 * 1024)

    def test_60_levels_of_250_byte_names_reach_the_bottom_and_show_the_whole_path(self):
        names = [f"{level:02}".encode() + b"n" * 248 for level in range(60)]
        make_chain(self.tree, names, leaf_every=1, leaf=b"Thumbs.db")
        sweep.make_tree(self.tree, ["keep.txt"])
        term = self.run_program()
        self.sweep_to_the_end(term)
        # Writing never blanks: the summary's rows keep the tail of the
        # scanning text that was there.
        ok, deleted = summary(term)
        self.assertTrue(ok.startswith(" Process Ok !"), ok)
        self.assertTrue(deleted.startswith(" Files Deleted : 60"), deleted)
        # The deepest scanning line (over 15,000 bytes) scrolled the window
        # and its last part, with the deepest name, stays on the screen
        # (partly written over by the last tally line and the summary).
        self.assertIn("/" + names[-1].decode()[:80], screen_text(term))
        self.assertEqual(count_chain_leaves(self.tree, b"Thumbs.db"), 0)
        self.assertTrue(sweep.exists(self.tree, "keep.txt"))
        self.finish(term)

    def test_a_listing_closed_under_a_low_limit_resumes_where_it_stopped(self):
        # "wide" is closed while the chains below it are walked and must go
        # on afterwards without losing or repeating an entry.
        sweep.make_tree(self.tree, ["wide/"] + [f"wide/{'f' * 100}{i}" for i in range(2000)])
        for chain in range(3):
            make_chain(os.path.join(self.tree, "wide"), [f"c{chain}"] + ["d"] * 99, leaf_every=10)
        term = self.run_program(before="ulimit -n 64")
        self.sweep_to_the_end(term)
        # A listing started again from its beginning would walk the chains
        # again and again; one that lost its place would miss some.
        self.assertEqual(summary(term), [" Process Ok !", " Files Deleted : 30"])
        self.assertEqual(count_chain_leaves(os.path.join(self.tree, "wide", "c0")), 0)
        self.assertEqual(len(os.listdir(os.path.join(self.tree, "wide"))), 2003)
        self.finish(term)


# --- links ------------------------------------------------------------------

class Links(Hostile):
    def test_loops_and_links_out_of_the_tree_change_nothing_outside_and_end(self):
        outside = self.outside(["THUMBS.DB", "dir/", "dir/thumbs.db", "keep"])
        before = snapshot(outside)
        sweep.make_tree(self.tree, [
            "self -> self", "a/", "a/b/", "a/b/up -> ../..", "a/b/top -> " + self.tree,
            f"a/out -> {outside}", f"a/b/THUMBS.DB -> {outside}/dir", "thumbs.db -> nowhere",
            f"keep -> {outside}/THUMBS.DB", "a/b/c/", "a/b/c/tHUMBS.DB",
        ])
        term = self.run_program()
        self.sweep_to_the_end(term, timeout=30)
        self.assertEqual(summary(term), [" Process Ok !", " Files Deleted : 3"])
        self.assertEqual(snapshot(outside), before)
        for gone in ("a/b/THUMBS.DB", "thumbs.db", "a/b/c/tHUMBS.DB"):
            self.assertFalse(sweep.exists(self.tree, gone), gone)
        for kept in ("self", "a/b/up", "a/b/top", "a/out", "keep"):
            self.assertTrue(os.path.islink(os.path.join(self.tree, kept)), kept)
        self.finish(term)


# --- names ------------------------------------------------------------------

# A directory's name and how its cells show it (UTF-8 locale): every byte a
# terminal would obey is a '?' of one cell.
HOSTILE_DIRECTORIES = [
    (b"new\nline", "new?line"),
    (b"\x1b[2J\x1b[31mred\x1b[0m", "?[2J?[31mred?[0m"),
    (b"\x1b]0;owned\x07title", "?]0;owned?title"),
    (b"bell\x07tab\tcr\rbs\x08del\x7f", "bell?tab?cr?bs?del?"),
    (b"c1\xc2\x9b2J", "c1?2J"),
    (b"bad\xff\xfeutf8\xc3", "bad??utf8?"),
    (b"     ", "     "),
    (b"-rf --no-preserve-root", "-rf --no-preserve-root"),
    (b"x" * 255, "x" * 255),
]


class Names(Hostile):
    def test_only_names_that_upper_case_to_thumbs_db_go(self):
        matches = [b"thumbs.db", b"THUMBS.DB", b"Thumbs.Db", b"tHuMbS.dB", b"THUMBS.db"]
        decoys = [b"thumbs.db\n", b"\x1b[2Jthumbs.db", b"thumbs.db\xff", b"-thumbs.db",
                  b"     ", b"THUMBS.DB ", b" THUMBS.DB", b"thumbs.db.", b"thumbs\x1b.db",
                  b"\xef\xbd\x94humbs.db", b"THUMBS\xc2\xa0DB", b"t" * 255, b"-", b"--"]
        for name in matches + decoys:
            with open(os.path.join(self.tree.encode(), name), "w") as f:
                f.write("x")
        term = self.run_program()
        self.sweep_to_the_end(term)
        self.assertEqual(summary(term), [" Process Ok !", " Files Deleted : 5"])
        self.assertEqual(sorted(os.listdir(self.tree.encode())), sorted(decoys))
        self.finish(term)

    def test_each_hostile_name_is_shown_in_its_cells_and_never_obeyed(self):
        for name, shown in HOSTILE_DIRECTORIES:
            with self.subTest(name=name):
                path = os.path.join(self.tree.encode(), name)
                os.mkdir(path)
                open(os.path.join(path, b"thumbs.db"), "w").close()
                term = self.run_program()
                title = term.display("#{pane_title}")
                self.sweep_to_the_end(term)
                self.assertIn(f"Scanning--->{self.tree}/{shown}", screen_text(term))
                self.assertEqual(summary(term), [" Process Ok !", " Files Deleted : 1"])
                # Not cleared (a scanning line of one row leaves the line
                # above the walk in the window), not recoloured, no new title,
                # the cursor where the summary left it.
                if len(shown) < 20:
                    self.assertIn(" Process...", term.rows())
                scanning = next(y for y, row in enumerate(term.rows(), 1) if "Scanning" in row)
                for x in range(1, 13):
                    cell = term.cell(x, scanning)
                    self.assertEqual((cell.fg, cell.bg), (7, 0))
                self.assertEqual(term.display("#{pane_title}"), title)
                self.assertEqual(term.cursor(), (1, 25))
                self.finish(term)
                self.assertEqual(os.listdir(path), [])
                os.rmdir(path)


# --- permissions ------------------------------------------------------------

class Permissions(Hostile):
    """Root may do anything: the walk runs as nobody on a tree nobody owns."""

    def setUp(self):
        super().setUp()
        if os.geteuid() != 0:
            self.skipTest("needs root to run the walk as another user")

    def own_tree(self):
        for parent, dirs, files in os.walk(self.tree):
            for name in [parent] + [os.path.join(parent, n) for n in dirs + files]:
                os.lchown(name, NOBODY, NOBODY)

    def test_unlistable_and_unenterable_directories_are_counted_and_skipped(self):
        # Nine directories c/c/... are entered on passes 1 to 9; the subject
        # x is pass 10. Entered but unlistable, it costs pass 11, which
        # writes the periodic line; unenterable, it is a plain entry.
        chain = "/".join(["c"] * 9)
        entered = ("Col Dir - 10 : Col Files - 11 : Deleted - 0", chain + "/x")
        not_entered = ("Col Dir - 9 : Col Files - 9", chain)
        cases = [(0o311, entered), (0o100, entered), (0o000, not_entered), (0o200, not_entered)]
        for mode, (tally, scanned) in cases:
            with self.subTest(mode=oct(mode)):
                sweep.make_tree(self.tree, [chain + "/", chain + "/x/", chain + "/x/thumbs.db"])
                self.own_tree()
                subject = os.path.join(self.tree, chain, "x")
                os.chmod(subject, mode)
                term = self.run_program(prefix=AS_NOBODY)
                self.sweep_to_the_end(term)
                rows = term.rows()
                self.assertEqual(rows[17], tally)
                self.assertEqual(rows[18], f"Scanning--->{self.tree}/{scanned}")
                self.assertEqual(summary(term), [" Process Ok !", " Files Deleted : 0"])
                self.finish(term)
                os.chmod(subject, 0o755)
                self.assertTrue(os.path.exists(os.path.join(subject, "thumbs.db")))
                shutil.rmtree(os.path.join(self.tree, "c"))

    def test_an_undeletable_thumbs_stops_with_5_and_nothing_else_is_lost(self):
        sweep.make_tree(self.tree, ["locked/", "locked/THUMBS.DB", "locked/keep", "open/",
                                    "open/keep", "keep"])
        self.own_tree()
        os.chmod(os.path.join(self.tree, "locked"), 0o555)
        self.addCleanup(os.chmod, os.path.join(self.tree, "locked"), 0o755)
        before = snapshot(self.tree)
        term = self.run_program(prefix=AS_NOBODY)
        term.send_keys("Enter")
        self.assertEqual(term.wait_exit().status, 5)
        self.assertRegex(screen_text(term), r"Runtime error 5 at \$[0-9A-F]{8}")
        self.assertNotIn(" Process Ok !", term.rows())
        self.assertEqual(snapshot(self.tree), before)

    def test_an_immutable_thumbs_stops_even_root_with_5(self):
        sweep.make_tree(self.tree, ["sub/", "sub/thumbs.db", "sub/keep", "keep"])
        target = os.path.join(self.tree, "sub/thumbs.db")
        if subprocess.run(["chattr", "+i", target], capture_output=True).returncode != 0:
            self.skipTest("this file system has no immutable files")
        self.addCleanup(subprocess.run, ["chattr", "-i", target])
        before = snapshot(self.tree)
        term = self.run_program()
        term.send_keys("Enter")
        self.assertEqual(term.wait_exit().status, 5)
        self.assertRegex(screen_text(term), r"Runtime error 5 at \$[0-9A-F]{8}")
        self.assertEqual(snapshot(self.tree), before)


# --- a race -----------------------------------------------------------------

class Race(Hostile):
    def test_a_tree_changed_during_the_walk_is_never_left(self):
        if shutil.which("strace") is None:
            self.skipTest("needs strace to slow the walk down")
        outside = self.outside(["THUMBS.DB", "sub/", "sub/thumbs.db", "keep"])
        before = snapshot(outside)
        kept = []
        for d in range(60):
            names = [f"d{d:02}/", f"d{d:02}/thumbs.db"] + [f"d{d:02}/f{i}" for i in range(10)]
            sweep.make_tree(self.tree, names)
            kept += names[2:]
        victims = [f"v{v:02}" for v in range(20)]
        for victim in victims:
            sweep.make_tree(self.tree, [victim + "/", victim + "/THUMBS.DB", victim + "/in/",
                                        victim + "/in/thumbs.db"])
        # Every listing is slowed down, so the changes meet the walk.
        command = ["strace", "-f", "-o", "/dev/null", "-e", "trace=getdents64",
                   "-e", "inject=getdents64:delay_enter=15000"]
        term = self.run_program(prefix=command, traced=True)
        removed = set()
        stop = threading.Event()

        def change_the_tree():
            rng = random.Random(6)
            order = victims[:]
            rng.shuffle(order)
            while not stop.is_set():
                d = os.path.join(self.tree, f"d{rng.randrange(60):02}")
                action = rng.randrange(4)
                if action == 0 and order:
                    victim = os.path.join(self.tree, order.pop())
                    os.rename(victim, victim + ".moved")
                    os.symlink(outside, victim)
                elif action == 1:
                    name = f"f{rng.randrange(10)}"
                    if os.path.exists(os.path.join(d, name)):
                        os.unlink(os.path.join(d, name))
                        removed.add(os.path.relpath(os.path.join(d, name), self.tree))
                elif action == 2:
                    open(os.path.join(d, f"new{rng.randrange(1000)}"), "w").close()
                else:
                    try:
                        os.unlink(os.path.join(d, "thumbs.db"))
                    except FileNotFoundError:
                        open(os.path.join(d, "Thumbs.db"), "w").close()
                time.sleep(0.002)

        changer = threading.Thread(target=change_the_tree)
        term.send_keys("Enter")
        changer.start()
        try:
            term.wait_until(lambda: FINAL in term.rows() or not term.alive(), 60, "the end")
        finally:
            stop.set()
            changer.join()
        if term.alive():
            self.assertEqual(summary(term)[0], " Process Ok !")
            self.finish(term)
        else:
            # A THUMBS.DB removed by the other process after it was listed.
            self.assertEqual(term.wait_exit().status, 2)
            self.assertRegex(screen_text(term), r"Runtime error 2 at \$[0-9A-F]{8}")
        self.assertEqual(snapshot(outside), before)
        for name in kept:
            self.assertTrue(name in removed or sweep.exists(self.tree, name), name)
        for victim in victims:
            home = victim + ".moved" if os.path.islink(os.path.join(self.tree, victim)) else victim
            self.assertTrue(sweep.exists(self.tree, home + "/in"), home)


# --- special files ----------------------------------------------------------

class SpecialFiles(Hostile):
    def test_fifos_and_sockets_named_thumbs_go_unopened_and_others_stay(self):
        os.mkfifo(os.path.join(self.tree, "thumbs.db"))
        os.mkdir(os.path.join(self.tree, "sub"))
        os.mkfifo(os.path.join(self.tree, "sub/keep.fifo"))
        listening = socket.socket(socket.AF_UNIX)
        listening.bind(os.path.join(self.tree, "sub/THUMBS.DB"))
        self.addCleanup(listening.close)
        kept_socket = socket.socket(socket.AF_UNIX)
        kept_socket.bind(os.path.join(self.tree, "sub/keep.sock"))
        self.addCleanup(kept_socket.close)
        term = self.run_program()
        self.sweep_to_the_end(term, timeout=20)
        self.assertEqual(summary(term), [" Process Ok !", " Files Deleted : 2"])
        self.assertEqual(sorted(os.listdir(self.tree)), ["sub"])
        self.assertEqual(sorted(os.listdir(os.path.join(self.tree, "sub"))),
                         ["keep.fifo", "keep.sock"])
        self.assertTrue(stat.S_ISFIFO(os.lstat(os.path.join(self.tree, "sub/keep.fifo")).st_mode))
        self.finish(term)


# --- size -------------------------------------------------------------------

def case_variant(k: int) -> str:
    """The k-th of the 256 spellings of thumbs.db in upper and lower case."""
    letters = "".join(c.upper() if k >> i & 1 else c for i, c in enumerate("thumbsdb"))
    return letters[:6] + "." + letters[6:]


def make_files(directory: str, count: int, thumbs_every: int) -> None:
    """count files, every thumbs_every-th of them a THUMBS.DB (at most 256)."""
    fd = os.open(directory, os.O_RDONLY)
    try:
        for i in range(count):
            name = case_variant(i // thumbs_every) if i % thumbs_every == 0 else f"file{i}"
            os.close(os.open(name, os.O_CREAT | os.O_WRONLY | os.O_EXCL, dir_fd=fd))
    finally:
        os.close(fd)


def sanitized() -> bool:
    """A sanitizer's allocator keeps freed memory in quarantine: peak memory
    says nothing about the program's own use then."""
    with open(sweep.program(), "rb") as f:
        return b"__asan_init" in f.read()


class Size(Hostile):
    def measure_walk(self, entries: int, directories: int):
        """Walks self.tree with standard output to a file; the peak memory
        over that of a one-file tree."""
        baseline = self.baseline_peak()
        term = self.run_program(stdout=self.output_file())
        started = time.monotonic()
        term.send_keys("Enter")
        peak = self.end_blind(term, timeout=1200)
        print(f"\n{entries} entries in {directories} directories: "
              f"{time.monotonic() - started:.1f} s, peak {peak} kB, one-file tree {baseline} kB")
        return peak - baseline

    def test_a_directory_of_200000_entries_on_the_screen(self):
        wide = os.path.join(self.tree, "wide")
        os.mkdir(wide)
        make_files(wide, 200000, thumbs_every=100000)
        term = self.run_program()
        self.sweep_to_the_end(term, timeout=300)
        # Passes: wide, then its 200,000 entries; the periodic line falls on
        # every 11th.
        passes = 200001
        self.assertRegex("\n".join(term.rows()),
                         rf"Col Dir - 1 : Col Files - {passes - passes % 11} : Deleted - [0-2]\n")
        self.assertEqual(summary(term), [" Process Ok !", " Files Deleted : 2"])
        self.assertEqual(len(os.listdir(wide)), 199998)
        self.assertFalse(os.path.exists(os.path.join(wide, "thumbs.db")))
        self.finish(term)

    def test_200000_entries_cost_no_more_memory_than_a_small_tree(self):
        wide = os.path.join(self.tree, "wide")
        os.mkdir(wide)
        make_files(wide, 200000, thumbs_every=1000)
        grown = self.measure_walk(200001, 1)
        self.assertEqual(len(os.listdir(wide)), 199800)
        if not sanitized():
            self.assertLess(grown, 4 * 1024)

    @unittest.skipUnless(LONG_TESTS, "a million entries: set ZARVELIN_LONG_TESTS=1")
    def test_a_tree_of_1000000_entries_in_bounded_memory(self):
        for d in range(1000):
            directory = os.path.join(self.tree, f"d{d:03}", "e")
            os.makedirs(directory)
            make_files(directory, 998, thumbs_every=100)
        grown = self.measure_walk(1000000, 2000)
        left = sum(len(files) for _, _, files in os.walk(self.tree))
        self.assertEqual(left, 1000 * (998 - 10))
        if not sanitized():
            self.assertLess(grown, 4 * 1024)


if __name__ == "__main__":
    unittest.main()
