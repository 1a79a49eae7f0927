"""The real binary in a real terminal (tmux) on real directories: the prompt,
cancelling, the sweep with its progress rows and summary, Esc, run-time
stops, links, a deep tree and the argument-less sweep of every mount point.
"""

import os
import re
import shutil
import signal
import stat
import subprocess
import tempfile
import time
import unittest

from terminal import Terminal

BANNER = [
    " ZARVELIN v1.1, by Vesk edition, (Norr-Kavesh compiled)",
    " WARNING - Thumbs.db will DELETED on your HARD-drivers!",
    ' USE "c:" for one driver, else all drivers to clear',
    " Press Enter - to DELETE, else Esc - quit?",
]
PROMPT = BANNER[3]
FINAL = " Have a nice DOS ! press any key..."
NOBODY = 65534


def program() -> str:
    path = os.environ.get("ZARVELIN_BIN")
    if not path:
        raise AssertionError("ZARVELIN_BIN must name the zarvelin program")
    return path


def make_tree(root: str, entries) -> None:
    """"name/" a directory, "name -> target" a symbolic link, else a file."""
    for entry in entries:
        name, arrow, target = entry.partition(" -> ")
        path = os.path.join(root, name.rstrip("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if arrow:
            os.symlink(target, path)
        elif name.endswith("/"):
            os.makedirs(path, exist_ok=True)
        else:
            with open(path, "w") as f:
                f.write("x")


def exists(root: str, name: str) -> bool:
    return os.path.lexists(os.path.join(root, name))


class Sweep(unittest.TestCase):
    def setUp(self):
        self.tree = tempfile.mkdtemp(prefix="zarvelin-e2e-")
        os.chmod(self.tree, 0o755)
        # rm copes with trees deeper than Python's recursion limit.
        self.addCleanup(subprocess.run, ["rm", "-rf", self.tree], check=True)

    def start(self, *args, width=80, height=25, command=None, cwd=None):
        term = Terminal(command or [program(), *args], width=width, height=height,
                        cwd=cwd or self.tree).start()
        self.addCleanup(term.close)
        term.wait_for(PROMPT)
        return term

    def confirm(self, term, then_keys=()):
        term.send_keys("Enter", *then_keys)
        term.wait_for(FINAL, timeout=60)

    def finish(self, term):
        term.send_text("x")
        self.assertEqual(term.wait_exit().status, 0)

    def summary(self, term):
        rows = term.rows()
        end = next(i for i, row in enumerate(rows) if row == FINAL)
        return rows[end - 4:end]


class Prompt(Sweep):
    def test_banner_and_prompt_are_written_at_the_cursor_in_light_grey_on_black(self):
        term = self.start(self.tree)
        self.assertEqual(term.rows()[:4], BANNER)
        self.assertEqual(term.cursor(), (1, 5))
        cell = term.cell(2, 1)
        self.assertEqual((cell.fg, cell.bg), (7, 0))

    def test_a_letter_cancels_touches_nothing_and_waits_for_one_key(self):
        make_tree(self.tree, ["thumbs.db", "sub/", "sub/THUMBS.DB"])
        term = self.start(self.tree)
        term.send_text("q")
        rows = term.wait_for(FINAL)
        self.assertEqual(rows[4:6], [" CANCELED !", FINAL])
        self.assertTrue(term.alive())
        self.finish(term)
        self.assertTrue(exists(self.tree, "thumbs.db"))
        self.assertTrue(exists(self.tree, "sub/THUMBS.DB"))

    def test_an_extended_key_cancels_and_its_second_code_ends_the_final_wait(self):
        for key in ("Up", "F1", "Delete"):
            with self.subTest(key=key):
                make_tree(self.tree, ["thumbs.db"])
                term = self.start(self.tree)
                term.send_keys(key)
                self.assertEqual(term.wait_exit().status, 0)
                self.assertEqual(term.rows()[4:6], [" CANCELED !", FINAL])
                self.assertTrue(exists(self.tree, "thumbs.db"))

    def test_a_key_typed_before_the_prompt_answers_it(self):
        make_tree(self.tree, ["thumbs.db"])
        term = Terminal(["sh", "-c", 'sleep 0.5; exec "$0" "$@"', program(), self.tree],
                        cwd=self.tree).start()
        self.addCleanup(term.close)
        term.send_text("n")
        term.wait_for(" CANCELED !")
        self.finish(term)
        self.assertTrue(exists(self.tree, "thumbs.db"))


class Deleting(Sweep):
    def test_every_case_variant_goes_and_decoys_stay(self):
        make_tree(self.tree, [
            "THUMBS.DB", "a/", "a/thumbs.db", "a/b/", "a/b/Thumbs.Db", ".hidden/",
            ".hidden/tHUMBs.db", ".Thumbs.db", "THUMBS.DB.BAK", "a/XTHUMBS.DB",
            "a/b/thumbs.dbx", "a/b/keep.txt", "THUMBS.D", "thumbs.db~",
        ])
        term = self.start(self.tree)
        self.confirm(term)
        self.assertEqual(self.summary(term)[2:], [" Process Ok !", " Files Deleted : 4"])
        for gone in ("THUMBS.DB", "a/thumbs.db", "a/b/Thumbs.Db", ".hidden/tHUMBs.db"):
            self.assertFalse(exists(self.tree, gone), gone)
        for kept in (".Thumbs.db", "THUMBS.DB.BAK", "a/XTHUMBS.DB", "a/b/thumbs.dbx",
                     "a/b/keep.txt", "THUMBS.D", "thumbs.db~"):
            self.assertTrue(exists(self.tree, kept), kept)
        self.finish(term)

    def test_progress_rows_summary_and_the_start_directory(self):
        # A chain a/b/c, so the passes come in a known order: the directories
        # are entered on passes 1, 2 and 3; the periodic line is written on
        # pass 11, inside c, which holds twelve files.
        make_tree(self.tree, ["a/", "a/b/", "a/b/c/"] + [f"a/b/c/f{i:02}" for i in range(12)])
        start_dir = os.path.join(self.tree, "a")
        term = self.start(self.tree, cwd=start_dir)
        self.confirm(term)
        rows = term.rows()
        # Three line ends after the walk scrolled the window up three rows.
        self.assertEqual(rows[17], "Col Dir - 3 : Col Files - 11 : Deleted - 0")
        self.assertEqual(rows[18], f"Scanning--->{self.tree}/a/b/c")
        self.assertEqual(rows[19:25], ["", "", " Process Ok !", " Files Deleted : 0", FINAL, ""])
        self.assertEqual(term.cursor(), (1, 25))
        self.assertEqual(os.readlink(f"/proc/{term.pid()}/cwd"), start_dir)
        self.finish(term)

    def test_entering_a_directory_leaves_the_stale_tail_of_the_periodic_line(self):
        # Ten directories d/d/..., entered on passes 1 to 10; the periodic
        # line comes on pass 11, with nothing deleted yet, then the eleventh
        # d is entered. Inside it a THUMBS.DB is erased and a directory
        # entered, in either order: the shorter line of the entered directory
        # leaves the old " : Deleted - 0" visible although one is deleted.
        chain = "/".join(["d"] * 11)
        make_tree(self.tree, [chain + "/", chain + "/e/", chain + "/thumbs.db"])
        term = self.start(self.tree)
        self.confirm(term)
        self.assertRegex(term.rows()[17], r"^Col Dir - 12 : Col Files - 1[23] : Deleted - 0$")
        self.assertEqual(self.summary(term)[3], " Files Deleted : 1")
        self.finish(term)

    def test_a_relative_root_is_walked_where_it_is(self):
        make_tree(self.tree, ["sub/", "sub/deeper/", "sub/deeper/thumbs.db"])
        term = self.start("sub")
        self.confirm(term)
        self.assertIn(f"Scanning--->{self.tree}/sub/deeper", term.rows())
        self.assertEqual(self.summary(term)[3], " Files Deleted : 1")
        self.assertFalse(exists(self.tree, "sub/deeper/thumbs.db"))
        self.finish(term)

    def test_only_the_first_argument_is_walked(self):
        make_tree(self.tree, ["one/", "one/thumbs.db", "two/", "two/thumbs.db"])
        term = self.start(os.path.join(self.tree, "one"), os.path.join(self.tree, "two"))
        self.confirm(term)
        self.assertFalse(exists(self.tree, "one/thumbs.db"))
        self.assertTrue(exists(self.tree, "two/thumbs.db"))
        self.finish(term)

    def test_an_empty_root_deletes_nothing(self):
        make_tree(self.tree, ["thumbs.db"])
        term = self.start("")
        self.confirm(term)
        self.assertEqual(self.summary(term)[2:], [" Process Ok !", " Files Deleted : 0"])
        self.assertTrue(exists(self.tree, "thumbs.db"))
        self.finish(term)

    def test_links_are_never_followed_and_a_link_named_thumbs_goes_as_a_link(self):
        outside = tempfile.mkdtemp(prefix="zarvelin-outside-")
        self.addCleanup(shutil.rmtree, outside, ignore_errors=True)
        make_tree(outside, ["THUMBS.DB", "dir/", "dir/thumbs.db"])
        make_tree(self.tree, ["loop -> .", "sub/", "sub/up -> ..", f"out -> {outside}",
                              f"thumbs.db -> {outside}/THUMBS.DB", f"Thumbs.DB -> {outside}/dir"])
        term = self.start(self.tree)
        self.confirm(term)
        self.assertEqual(self.summary(term)[2:], [" Process Ok !", " Files Deleted : 2"])
        self.assertFalse(exists(self.tree, "thumbs.db"))
        self.assertFalse(exists(self.tree, "Thumbs.DB"))
        self.assertTrue(exists(outside, "THUMBS.DB"))
        self.assertTrue(exists(outside, "dir/thumbs.db"))
        self.finish(term)

    def test_a_tree_3000_levels_deep_is_walked_to_the_bottom(self):
        # Paths far past the system's limit. The scanning lines of such a tree
        # add up to megabytes: standard output goes to a file here (which gets
        # none of the screen), keys still come from the terminal.
        bottom = os.open(self.tree, os.O_RDONLY)
        for _ in range(3000):
            os.mkdir("d", dir_fd=bottom)
            below = os.open("d", os.O_RDONLY, dir_fd=bottom)
            os.close(bottom)
            bottom = below
        self.addCleanup(os.close, bottom)
        os.close(os.open("THUMBS.DB", os.O_CREAT | os.O_WRONLY, dir_fd=bottom))
        out = os.path.join(tempfile.mkdtemp(prefix="zarvelin-out-"), "screen")
        self.addCleanup(shutil.rmtree, os.path.dirname(out), ignore_errors=True)
        term = Terminal(["sh", "-c", 'exec "$0" "$@" >"$OUT"', program(), self.tree],
                        cwd=self.tree, env={"OUT": out}).start()
        self.addCleanup(term.close)
        term.send_keys("Enter")
        # Keys pressed during the walk are swallowed: the one for the final
        # wait is repeated until the program has ended.
        term.wait_until(lambda: not _exists_at(bottom, "THUMBS.DB"), 120, "the deletion")
        while term.alive():
            term.send_text("x")
            time.sleep(0.2)
        self.assertEqual(term.wait_exit().status, 0)
        self.assertEqual(os.path.getsize(out), 0)


class Stopping(Sweep):
    def test_esc_typed_ahead_stops_the_walk_at_the_first_entry(self):
        make_tree(self.tree, ["a/", "a/thumbs.db", "b/", "b/thumbs.db"])
        term = self.start(self.tree)
        term.send_keys("Enter", "Escape")
        rows = term.wait_for(FINAL)
        self.assertEqual(rows[9], " ABORTED !...")
        self.assertEqual(self.summary(term), ["", " Process ABORTED !!!", "", " Files Deleted : 0"])
        self.assertNotIn("Scanning", "".join(rows))
        self.finish(term)
        self.assertTrue(exists(self.tree, "a/thumbs.db"))
        self.assertTrue(exists(self.tree, "b/thumbs.db"))

    def test_other_keys_during_the_walk_are_swallowed(self):
        make_tree(self.tree, ["a/", "a/thumbs.db"])
        term = self.start(self.tree)
        term.send_keys("Enter", "q", "Up")
        term.wait_for(FINAL)
        self.assertEqual(self.summary(term)[2:], [" Process Ok !", " Files Deleted : 1"])
        self.finish(term)

    def assert_stopped(self, term, number, routine_lines):
        """The report at the cursor, the exit status and the terminal as it
        was; routine_lines: the routines named, innermost first."""
        ended = term.wait_exit()
        self.assertEqual(ended.status, number % 256)
        screen = "".join(row.ljust(term.width) for row in term.rows())
        report = re.search(r"Runtime error (\d+) at \$([0-9A-F]{8})\s+\$\2  (\w+), +line \d+ of "
                           r"src/sweep/\w+\.cpp", screen)
        self.assertIsNotNone(report, screen)
        self.assertEqual(report.group(1), str(number))
        named = re.findall(r"\$[0-9A-F]{8}  (\w+),  line \d+ of src/sweep/", screen)
        self.assertEqual(named, routine_lines)
        self.assertEqual(term.tty_after(), term.tty_before())

    def test_a_directory_named_thumbs_is_walked_then_stops_the_program_with_2(self):
        make_tree(self.tree, ["THUMBS.DB/", "THUMBS.DB/inner/", "THUMBS.DB/inner/thumbs.db"])
        term = self.start(self.tree)
        term.send_keys("Enter")
        self.assert_stopped(term, 2, ["FINDDEL", "main"])
        self.assertFalse(exists(self.tree, "THUMBS.DB/inner/thumbs.db"))
        self.assertTrue(exists(self.tree, "THUMBS.DB"))
        self.assertNotIn(" Process Ok !", term.rows())

    def test_a_thumbs_the_user_may_not_delete_stops_the_program_with_5(self):
        # Root may delete anything: the walk runs as an unprivileged user.
        make_tree(self.tree, ["locked/", "locked/deeper/", "locked/deeper/thumbs.db"])
        os.chmod(os.path.join(self.tree, "locked/deeper"), 0o555)
        self.addCleanup(os.chmod, os.path.join(self.tree, "locked/deeper"), 0o755)
        command = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups",
                   program(), self.tree]
        term = self.start(command=command)
        term.send_keys("Enter")
        self.assert_stopped(term, 5, ["FINDDEL", "FINDDEL", "FINDDEL", "main"])
        self.assertTrue(exists(self.tree, "locked/deeper/thumbs.db"))

    def test_a_start_directory_removed_during_the_sweep_stops_the_program_with_3(self):
        # Every directory read after the first is slowed down, so the start
        # directory is surely removed while the walk is still going.
        make_tree(self.tree, ["start/", "walk/"] + [f"walk/d{i}/" for i in range(8)])
        command = ["strace", "-f", "-o", "/dev/null", "-e", "trace=getdents64",
                   "-e", "inject=getdents64:delay_enter=200000:when=2+", program(), "../walk"]
        term = self.start(command=command, cwd=os.path.join(self.tree, "start"))
        term.send_keys("Enter")
        term.wait_for("Scanning--->")
        os.rmdir(os.path.join(self.tree, "start"))
        self.assert_stopped(term, 3, ["main"])
        self.assertNotIn(FINAL, term.rows())


class WindowSizes(Sweep):
    def test_a_20_row_window_writes_the_progress_where_the_cursor_is(self):
        make_tree(self.tree, ["a/"])
        term = self.start(self.tree, height=20)
        self.confirm(term)
        rows = term.rows()
        # Rows 21 and 22 do not exist: the lines follow " Process... "
        # (rows are read without their trailing blanks).
        self.assertEqual(rows[4:10], [" Process...", "", "", "", "", "Col Dir - 1 : Col Files - 1"])
        self.assertEqual(rows[10], f"Scanning--->{self.tree}/a")
        self.finish(term)

    def test_a_taller_and_wider_window_keeps_the_progress_on_rows_21_and_22(self):
        make_tree(self.tree, ["a/"])
        term = self.start(self.tree, width=100, height=30)
        self.confirm(term)
        rows = term.rows()
        self.assertEqual(rows[20], "Col Dir - 1 : Col Files - 1")
        self.assertEqual(rows[21], f"Scanning--->{self.tree}/a")
        # The first of the three line ends ends the scanning line itself.
        self.assertEqual(rows[22:27], ["", "", " Process Ok !", " Files Deleted : 0", FINAL])
        self.finish(term)


class EveryMountedFileSystem(Sweep):
    """Without an argument every mounted file system is swept. Run in a
    private mount namespace and a chroot, where the only file systems are
    the test's own: a root, a second one at /data, and /proc."""

    def setUp(self):
        super().setUp()
        if os.geteuid() != 0 or subprocess.run(["unshare", "-m", "true"]).returncode != 0:
            self.skipTest("needs root and a private mount namespace")

    def test_each_root_is_walked_alone_and_pseudo_file_systems_never(self):
        make_tree(self.tree, ["root/", "root/a/", "root/a/thumbs.db", "root/keep.txt",
                              "root/data/", "root/proc/", "data/", "data/THUMBS.DB", "data/sub/",
                              "data/sub/Thumbs.db", "outside/", "outside/thumbs.db"])
        root = os.path.join(self.tree, "root")
        self.copy_program_into(root)
        setup = ('mount --bind "$1/root" "$1/root" && mount --bind "$1/data" "$1/root/data" && '
                 'mount -t proc proc "$1/root/proc" && exec chroot "$1/root" /zarvelin')
        command = ["unshare", "-m", "--propagation", "private", "sh", "-c", setup, "sh", self.tree]
        term = self.start(command=command)
        self.confirm(term)
        rows = term.rows()
        self.assertEqual(self.summary(term)[2:], [" Process Ok !", " Files Deleted : 3"])
        self.assertEqual(rows[18], "Scanning--->/data/sub")
        self.finish(term)
        for gone in ("root/a/thumbs.db", "data/THUMBS.DB", "data/sub/Thumbs.db"):
            self.assertFalse(exists(self.tree, gone), gone)
        for kept in ("root/keep.txt", "outside/thumbs.db"):
            self.assertTrue(exists(self.tree, kept), kept)

    @staticmethod
    def copy_program_into(root: str) -> None:
        shutil.copy(program(), os.path.join(root, "zarvelin"))
        libraries = subprocess.run(["ldd", program()], check=True, capture_output=True,
                                   text=True).stdout
        for path in re.findall(r"(/\S+) \(0x", libraries):
            target = os.path.join(root, path.lstrip("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy(path, target)


def _exists_at(dir_fd: int, name: str) -> bool:
    try:
        os.stat(name, dir_fd=dir_fd, follow_symlinks=False)
        return True
    except FileNotFoundError:
        return False
