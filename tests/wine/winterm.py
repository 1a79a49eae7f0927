"""A Windows program run under Wine in a real terminal (a tmux pane).

tests/wine/run sets up the suite's one Wine prefix and passes its places in
the environment: ZARVELIN_WINE_DRIVE_C and ZARVELIN_WINE_DRIVE_D (the Unix
folders of drives C: and D:), ZARVELIN_WINE_TMUX (the suite's own tmux
socket) and ZARVELIN_WINE_WORK (its temporary folder). The programs under
test lie at the root of drive C:.
"""

import os
import shlex
import subprocess
import time
import uuid
from pathlib import Path

DRIVE_C = Path(os.environ.get("ZARVELIN_WINE_DRIVE_C", ""))
DRIVE_D = Path(os.environ.get("ZARVELIN_WINE_DRIVE_D", ""))
WORK = Path(os.environ.get("ZARVELIN_WINE_WORK", ""))
TMUX_SOCKET = os.environ.get("ZARVELIN_WINE_TMUX", "")

WIDTH, HEIGHT = 80, 25
# Wine starts a program in a second or two; a slow machine gets more.
START_TIMEOUT = 30.0
TIMEOUT = 20.0


def windows_path(unix_path):
    """The path of a file on drive C: or D: as the program names it."""
    unix_path = Path(unix_path)
    for letter, root in (("C:", DRIVE_C), ("D:", DRIVE_D)):
        try:
            relative = unix_path.relative_to(root)
        except ValueError:
            continue
        parts = relative.parts
        return letter + "\\" + "\\".join(parts)
    raise ValueError(f"{unix_path} lies on no drive")


def tmux(*args, check=True):
    config = WORK / "tmux.conf"
    if not config.exists():
        # No status row: the pane is the whole 80 x 25 window. The server
        # outlives its last session (tests/wine/run kills it at the end):
        # otherwise a session started just as the previous one is killed can
        # reach a server on its way out and fail.
        config.write_text("set -g status off\nset -g history-limit 0\nset -g exit-empty off\n")
    return subprocess.run(["tmux", "-S", TMUX_SOCKET, "-f", str(config), *args],
                          check=check, capture_output=True, text=True)


class WineTerminal:
    """One program run in its own tmux session, seen as the screen's rows."""

    def __init__(self, program, args=(), cwd=None, stdout=None, height=HEIGHT):
        self.name = "t" + uuid.uuid4().hex[:8]
        self.height = height
        self.status_file = WORK / f"{self.name}.status"
        cwd = Path(cwd or DRIVE_C)
        command = ["wine", "C:\\" + program, *args]
        redirect = f" >{shlex.quote(str(stdout))}" if stdout else ""
        # The status is written after the program ends; the pane then stays
        # as the program left it. Ctrl+C is the program's to handle: the
        # shell around it only notes it.
        script = (f"trap : INT; cd {shlex.quote(str(cwd))} && {shlex.join(command)}{redirect}; "
                  f"echo $? >{shlex.quote(str(self.status_file))}; exec sleep 100000")
        tmux("new-session", "-d", "-s", self.name, "-x", str(WIDTH), "-y", str(height),
             "sh", "-c", script)

    def close(self):
        tmux("kill-session", "-t", self.name, check=False)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def rows(self):
        """The screen's rows, row 1 first, trailing blanks removed."""
        text = tmux("capture-pane", "-p", "-t", self.name).stdout
        lines = [line.rstrip() for line in text.split("\n")][:self.height]
        return lines + [""] * (self.height - len(lines))

    def row(self, number):
        return self.rows()[number - 1]

    def screen(self):
        return "\n".join(self.rows())

    def send(self, *keys):
        """Keys by tmux's names (Enter, Escape, Up, F1, M-x, BTab) or letters."""
        tmux("send-keys", "-t", self.name, *keys)

    def wait_for_console(self, timeout=START_TIMEOUT):
        """Waits until Wine's console host reads the terminal key by key.

        Keys typed before that are read by the terminal's line discipline,
        which makes Enter a line feed.
        """
        tty = tmux("display", "-p", "-t", self.name, "#{pane_tty}").stdout.strip()
        deadline = time.monotonic() + timeout
        while "-icanon" not in subprocess.run(["stty", "-a", "-F", tty], capture_output=True,
                                              text=True).stdout.split():
            if time.monotonic() > deadline:
                raise AssertionError("the console host never took the terminal")
            time.sleep(0.05)

    def wait_for(self, text, timeout=TIMEOUT):
        """Waits until text is on the screen; returns the screen."""
        deadline = time.monotonic() + timeout
        while True:
            screen = self.screen()
            if text in screen:
                return screen
            if time.monotonic() > deadline:
                raise AssertionError(f"{text!r} did not appear; the screen:\n{screen}")
            time.sleep(0.05)

    def exit_status(self, timeout=TIMEOUT):
        """Waits for the program to end and returns its exit status."""
        deadline = time.monotonic() + timeout
        while not self.status_file.exists() or not self.status_file.read_text().strip():
            if time.monotonic() > deadline:
                raise AssertionError(f"the program did not end; the screen:\n{self.screen()}")
            time.sleep(0.05)
        return int(self.status_file.read_text())

    def has_ended(self):
        return self.status_file.exists() and self.status_file.read_text().strip() != ""
