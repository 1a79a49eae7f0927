"""The terminal is never left broken: the real program, ended every way it
can end (at the prompt, during the walk, at the final wait), gives the
terminal back its settings and its colours; a resize during the walk changes
nothing; and with standard output a file, a pipe, /dev/full or closed, the
run completes and none of the screen's text reaches it.

The console's own tests (test_console.py) cover the same signals with the
console driver; these run the whole program.
"""

import os
import shutil
import signal
import tempfile
import time
import unittest

import test_hostile as hostile
import test_sweep as sweep
from terminal import Terminal

# Runs the program, then writes "after:" and how it ended where the program
# left the cursor, in whatever colours the terminal then has. The runner
# ignores the signals the program is sent; the program gets them at their
# defaults.
AFTER = """
import signal, subprocess, sys
ends = (signal.SIGINT, signal.SIGQUIT, signal.SIGTERM, signal.SIGHUP)
for s in ends:
    signal.signal(s, signal.SIG_IGN)
def defaults():
    for s in ends:
        signal.signal(s, signal.SIG_DFL)
child = subprocess.Popen(sys.argv[1:], preexec_fn=defaults)
sys.stdout.write("after:%d" % child.wait())
sys.stdout.flush()
"""

SLOW_LISTINGS = ["strace", "-f", "-o", "/dev/null", "-e", "trace=getdents64",
                 "-e", "inject=getdents64:delay_enter=300000"]


def program_pid(term: Terminal) -> int:
    """The program's own pid among the processes of the terminal's session."""
    session = os.getsid(term.pid())
    target = os.path.realpath(sweep.program())

    def find():
        for entry in os.listdir("/proc"):
            try:
                if (entry.isdigit() and os.path.realpath(f"/proc/{entry}/exe") == target
                        and os.getsid(int(entry)) == session):
                    return int(entry)
            except OSError:
                continue
        return None

    term.wait_until(lambda: find() is not None, 10, "the program to start")
    return find()


class Promises(sweep.Sweep):
    def start_after(self, *, slow=False, size=(80, 25)):
        """The program on self.tree under the AFTER runner; slow: every
        listing after the first takes 0.3 s (so the walk can be caught)."""
        env = hostile.sanitizer_env(self, traced=slow)
        command = [*(SLOW_LISTINGS if slow else []), sweep.program(), self.tree]
        term = Terminal([shutil.which("python3"), "-c", AFTER, *command], width=size[0],
                        height=size[1], cwd=self.tree, env=env).start()
        self.addCleanup(term.close)
        term.wait_for(sweep.PROMPT)
        self.assertNotEqual(term.tty_settings(), term.tty_before(), "raw mode while running")
        return term

    def assert_given_back(self, term, ended: int):
        """ended: the program's exit status, or minus the signal that ended it."""
        term.wait_for(f"after:{ended}", timeout=30)
        self.assertEqual(term.wait_exit().status, 0)
        self.assertEqual(term.tty_after(), term.tty_before())
        row = next(y for y, text in enumerate(term.rows(), 1) if "after:" in text)
        column = term.row(row).index("after:") + 1
        cell = term.cell(column, row)
        self.assertEqual((cell.char, cell.fg, cell.bg), ("a", None, None))


class WaysToEnd(Promises):
    def test_at_the_prompt_and_the_final_wait(self):
        # (what ends it, how it ends)
        cases = [
            (["Enter", "x"], 0),
            (["q", "x"], 0),
            (["C-c"], -signal.SIGINT),
            (["C-\\"], -signal.SIGQUIT),
            (["Enter", "C-c"], -signal.SIGINT),
        ]
        sweep.make_tree(self.tree, ["a/", "a/thumbs.db"])
        for keys, ended in cases:
            with self.subTest(keys=keys):
                term = self.start_after()
                for key in keys:
                    term.send_keys(key)
                    if key == "Enter":
                        term.wait_for(sweep.FINAL)
                self.assert_given_back(term, ended)

    def test_a_run_time_stop(self):
        sweep.make_tree(self.tree, ["THUMBS.DB/"])
        term = self.start_after()
        term.send_keys("Enter")
        self.assert_given_back(term, 2)
        self.assertIn("Runtime error 2 at $", hostile.screen_text(term))

    def test_signals_during_the_walk(self):
        # A fault signal sent by another process is taken for a fault: the
        # run-time stop 216, with its report, the terminal given back.
        cases = [signal.SIGINT, signal.SIGQUIT, signal.SIGTERM, signal.SIGHUP, signal.SIGSEGV,
                 signal.SIGBUS]
        sweep.make_tree(self.tree, [f"d{i}/" for i in range(40)] + ["d0/thumbs.db"])
        for sig in cases:
            with self.subTest(signal=sig.name):
                term = self.start_after(slow=True)
                term.send_keys("Enter")
                term.wait_for("Scanning--->")
                os.kill(program_pid(term), sig)
                fault = sig in (signal.SIGSEGV, signal.SIGBUS)
                self.assert_given_back(term, 216 if fault else -sig)
                self.assertEqual("Runtime error 216 at $" in hostile.screen_text(term), fault)
                self.assertNotIn(sweep.FINAL, term.rows())

    def test_ctrl_z_gives_the_terminal_back_and_fg_takes_it_again(self):
        sweep.make_tree(self.tree, ["a/", "a/thumbs.db"])
        term = self.start_after()
        raw = term.tty_settings()
        term.send_keys("C-z")
        term.wait_until(lambda: term.tty_settings() == term.tty_before(), 5, "settings given back")
        os.killpg(os.getpgid(program_pid(term)), signal.SIGCONT)
        term.wait_until(lambda: term.tty_settings() == raw, 5, "raw mode again")
        term.send_keys("Enter")
        term.wait_for(sweep.FINAL)
        self.assertEqual(self.summary(term)[3], " Files Deleted : 1")
        term.send_keys("x")
        self.assert_given_back(term, 0)

    def test_a_closed_terminal_ends_the_program(self):
        for during_walk in (False, True):
            with self.subTest(during_walk=during_walk):
                sweep.make_tree(self.tree, [f"d{i}/" for i in range(40)])
                term = self.start_after(slow=during_walk)
                pid = program_pid(term)
                if during_walk:
                    term.send_keys("Enter")
                    term.wait_for("Scanning--->")
                term.tmux("kill-session", "-t", "main")
                term.wait_until(lambda: not os.path.exists(f"/proc/{pid}"), 10, "the program gone")


class Resizing(Promises):
    def test_the_window_measured_at_start_is_kept_when_the_terminal_grows(self):
        sweep.make_tree(self.tree, [f"d{i}/" for i in range(8)] + ["d7/thumbs.db"])
        term = self.start_after(slow=True)
        term.send_keys("Enter")
        term.wait_for("Scanning--->")
        term.tmux("resize-window", "-t", "main", "-x", "100", "-y", "30")
        term.width, term.height = 100, 30
        term.wait_for(sweep.FINAL, timeout=30)
        rows = term.rows()
        # Rows 21 and 22 of the 25-row window, scrolled up three rows by the
        # summary inside that window; nothing below its row 25.
        self.assertTrue(rows[17].startswith("Col Dir - 8 : Col Files - "), rows[17])
        self.assertTrue(rows[18].startswith("Scanning--->"), rows[18])
        self.assertEqual(rows[21:25], [" Process Ok !", " Files Deleted : 1", sweep.FINAL, ""])
        self.assertEqual(rows[25:], [""] * 5)
        term.send_keys("x")
        self.assert_given_back(term, 0)

    def test_a_shrinking_terminal_changes_nothing_of_the_run(self):
        sweep.make_tree(self.tree, [f"d{i}/" for i in range(8)] + ["d7/thumbs.db"])
        term = self.start_after(slow=True)
        term.send_keys("Enter")
        term.wait_for("Scanning--->")
        term.tmux("resize-window", "-t", "main", "-x", "40", "-y", "10")
        term.wait_until(lambda: not sweep.exists(self.tree, "d7/thumbs.db"), 30, "the deletion")
        term.wait_until(lambda: "DOS" in "".join(term.rows()), 30, "the final line")
        term.send_keys("x")
        self.assert_given_back(term, 0)


class StandardOutput(unittest.TestCase):
    """Keys still come from the terminal; standard output gets nothing of the
    screen, only a run-time stop's report."""

    def setUp(self):
        self.tree = tempfile.mkdtemp(prefix="zarvelin-e2e-")
        self.addCleanup(shutil.rmtree, self.tree, ignore_errors=True)
        self.out = os.path.join(tempfile.mkdtemp(prefix="zarvelin-out-"), "out")
        self.addCleanup(shutil.rmtree, os.path.dirname(self.out), ignore_errors=True)

    def run_with(self, redirect: str, final_key: bool = True) -> Terminal:
        """Runs the program with its standard output as redirect says (bash
        text, OUT names a file) and presses Enter once raw mode is on; with
        final_key, keeps pressing x until it ends (a last one may be echoed
        by the terminal once the program is gone)."""
        env = hostile.sanitizer_env(self)
        env["OUT"] = self.out
        command = ["bash", "-c", f'set -o pipefail; {redirect}', "bash", sweep.program(),
                   self.tree]
        term = Terminal(command, cwd=self.tree, env=env).start()
        self.addCleanup(term.close)
        term.wait_until(lambda: term.tty_settings() != term.tty_before(), 5, "raw mode")
        term.send_keys("Enter")
        while final_key and term.alive():
            term.send_text("x")
            time.sleep(0.2)
        term.wait_exit(timeout=30)
        self.assertEqual(term.tty_after(), term.tty_before())
        return term

    def assert_blank_screen(self, term):
        self.assertEqual("".join(term.rows()).strip("x"), "")

    def output(self) -> bytes:
        """What reached the file OUT, which is then removed."""
        if not os.path.exists(self.out):
            return b""
        with open(self.out, "rb") as f:
            data = f.read()
        os.unlink(self.out)
        return data

    def test_the_run_completes_and_nothing_of_the_screen_reaches_it(self):
        redirects = {
            "a file": 'exec "$@" >"$OUT"',
            "a pipe": '"$@" | cat >"$OUT"',
            "/dev/full": 'exec "$@" >/dev/full',
            "closed": 'exec "$@" >&-',
        }
        for name, redirect in redirects.items():
            with self.subTest(stdout=name):
                sweep.make_tree(self.tree, ["a/", "a/thumbs.db", "THUMBS.DB", "keep"])
                term = self.run_with(redirect)
                self.assertEqual(term.wait_exit().status, 0)
                self.assertEqual(sorted(os.listdir(self.tree)), ["a", "keep"])
                self.assertEqual(os.listdir(os.path.join(self.tree, "a")), [])
                self.assertEqual(self.output(), b"")
                self.assert_blank_screen(term)

    def test_a_run_time_stop_writes_only_its_report(self):
        redirects = {
            "a file": ('exec "$@" >"$OUT"', True),
            "a pipe": ('"$@" | cat >"$OUT"', True),
            "/dev/full": ('exec "$@" >/dev/full', False),
            "closed": ('exec "$@" >&-', False),
        }
        for name, (redirect, reported) in redirects.items():
            with self.subTest(stdout=name):
                sweep.make_tree(self.tree, ["THUMBS.DB/"])
                term = self.run_with(redirect, final_key=False)
                self.assertEqual(term.wait_exit().status, 2)
                report = self.output()
                self.assertEqual(report.startswith(b"Runtime error 2 at $"), reported, report)
                self.assertNotIn(b"Press Enter", report)
                self.assertEqual(term.rows(), [""] * 25)
                os.rmdir(os.path.join(self.tree, "THUMBS.DB"))


if __name__ == "__main__":
    unittest.main()
