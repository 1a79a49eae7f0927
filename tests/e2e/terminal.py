"""A real terminal for end-to-end tests: one command in a detached tmux session.

Each Terminal runs its own tmux server on a private socket in its own
temporary directory, so tests never see each other's sessions or the user's
own, and it needs no terminal on the test's own standard input (CI has
none). The server is killed and the directory removed when the Terminal is
closed.

    with Terminal([program, "c:"], width=80, height=25, cwd=tree) as term:
        term.wait_for("Press Enter")
        term.send_keys("Enter")
        ended = term.wait_exit()

The command runs under a small wrapper (this file, run as a script) that
records the tty's settings (`stty -g`) before the command starts and after it
ends, the command's pid and its exit status, and then ends the same way the
command did, so tmux's pane status is the command's own. Like a shell with
job control, the wrapper runs the command as the terminal's foreground
process group: Ctrl+C, Ctrl+\\ and Ctrl+Z reach the command alone, and
Ctrl+Z can stop it.
"""

import json
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unicodedata
from typing import Callable, List, NamedTuple, Optional, Tuple, Union

# Shown when the pane's command has ended: nothing, so the screen stays as
# the command left it (tmux would otherwise write a line and scroll).
_CONFIG = """\
set -g remain-on-exit on
set -g remain-on-exit-format ""
set -g status off
set -g history-limit 2000
set -g default-terminal screen
"""

DEFAULT_ENV = {"TERM": "screen", "LANG": "C.UTF-8"}


class Cell(NamedTuple):
    """One cell of the screen: its glyph and colours.

    fg and bg are None for the terminal's default colour, 0-15 for the ANSI
    colours (8-15 bright), 16-255 for the 256-colour palette, or an (r, g, b)
    tuple. The second cell of a wide glyph has the glyph "".
    """

    char: str
    fg: Union[None, int, Tuple[int, int, int]]
    bg: Union[None, int, Tuple[int, int, int]]
    bold: bool = False
    reverse: bool = False


class Ended(NamedTuple):
    """How the pane's command ended: an exit status or a signal number."""

    status: Optional[int]
    signal: Optional[int]


class TerminalError(AssertionError):
    pass


def _find_tmux() -> str:
    tmux = shutil.which("tmux")
    if tmux is None:
        raise TerminalError("tmux is not installed: the end-to-end tests need it")
    return tmux


class Terminal:
    def __init__(
        self,
        command: List[str],
        *,
        width: int = 80,
        height: int = 25,
        env: Optional[dict] = None,
        cwd: Optional[str] = None,
    ):
        """command: the program and its arguments, run directly (no shell).
        env: variables on top of DEFAULT_ENV and PATH/HOME; a value of None
        removes a variable. cwd: the command's working directory."""
        self.command = [str(part) for part in command]
        self.width = width
        self.height = height
        self.cwd = cwd or os.getcwd()
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": os.environ.get("HOME", "/")}
        self.env.update(DEFAULT_ENV)
        for name, value in (env or {}).items():
            if value is None:
                self.env.pop(name, None)
            else:
                self.env[name] = str(value)
        self._tmux = _find_tmux()
        self._dir = None
        self._target = "main"

    # --- life cycle -------------------------------------------------------

    def start(self) -> "Terminal":
        self._dir = tempfile.mkdtemp(prefix="zarvelin-terminal-")
        config = os.path.join(self._dir, "tmux.conf")
        with open(config, "w") as f:
            f.write(_CONFIG)
        launch = os.path.join(self._dir, "launch.json")
        with open(launch, "w") as f:
            json.dump({"command": self.command, "env": self.env, "cwd": self.cwd, "state": self._state_path}, f)
        wrapper = [sys.executable, os.path.abspath(__file__), "--wrap", launch]
        subprocess.run(
            [self._tmux, "-S", self._socket, "-f", config, "new-session", "-d", "-s", self._target,
             "-x", str(self.width), "-y", str(self.height), "-c", self.cwd, *wrapper],
            check=True, stdin=subprocess.DEVNULL, capture_output=True, env=self._client_env(),
        )
        return self

    def close(self) -> None:
        if self._dir:
            subprocess.run([self._tmux, "-S", self._socket, "kill-server"], stdin=subprocess.DEVNULL,
                           capture_output=True, env=self._client_env())
            shutil.rmtree(self._dir, ignore_errors=True)
            self._dir = None

    def __enter__(self) -> "Terminal":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.close()

    # --- keys -------------------------------------------------------------

    def send_text(self, text: str) -> None:
        """Types text literally, character by character."""
        self.tmux("send-keys", "-t", self._target, "-l", text)

    def send_keys(self, *names: str) -> None:
        """Presses keys by tmux's names: Enter, Escape, Up, F1, S-F1, C-Up,
        M-x, KPEnter, C-c, BSpace, Tab, BTab, Home, NPage..."""
        self.tmux("send-keys", "-t", self._target, *names)

    def send_bytes(self, data: bytes) -> None:
        """Sends raw bytes, as a terminal would for a key it reports so."""
        self.tmux("send-keys", "-t", self._target, "-H", *[f"{b:02x}" for b in data])

    # --- screen -----------------------------------------------------------

    def rows(self) -> List[str]:
        """The screen's rows as text, trailing blanks removed; rows[0] is row 1."""
        return [line.rstrip() for line in self._capture(False)]

    def row(self, y: int) -> str:
        """Row y, counted from 1, trailing blanks removed."""
        return self.rows()[y - 1]

    def cells(self) -> List[List[Cell]]:
        """Every cell with its colours; cells()[y-1][x-1] is column x, row y."""
        return _parse_cells(self._capture(True), self.width)

    def cell(self, x: int, y: int) -> Cell:
        return self.cells()[y - 1][x - 1]

    def cursor(self) -> Tuple[int, int]:
        """The cursor's column and row, counted from 1."""
        x, y = self.display("#{cursor_x} #{cursor_y}").split()
        return int(x) + 1, int(y) + 1

    def history_size(self) -> int:
        """Rows that went up into the scroll-back."""
        return int(self.display("#{history_size}"))

    def wait_for(self, text: str, timeout: float = 5.0) -> List[str]:
        """Waits until text shows on the screen; returns the rows."""
        found = self.wait_until(lambda: any(text in row for row in self.rows()), timeout,
                                f"{text!r} on the screen")
        return self.rows() if found else []

    def wait_until(self, predicate: Callable[[], bool], timeout: float = 5.0, what: str = "") -> bool:
        deadline = time.monotonic() + timeout
        while True:
            if predicate():
                return True
            if time.monotonic() > deadline:
                raise TerminalError(f"timed out waiting for {what or predicate}; screen:\n"
                                    + "\n".join(self.rows()))
            time.sleep(0.02)

    # --- the command ------------------------------------------------------

    def pid(self, timeout: float = 5.0) -> int:
        """The command's own process id (not the wrapper's)."""
        self.wait_until(lambda: "pid" in self._state(), timeout, "the command to start")
        return int(self._state()["pid"])

    def kill(self, sig: int = signal.SIGTERM) -> None:
        """Sends a signal to the command itself."""
        os.kill(self.pid(), sig)

    def alive(self) -> bool:
        return self.display("#{pane_dead}") != "1"

    def wait_exit(self, timeout: float = 10.0) -> Ended:
        """Waits for the command to end; its exit status or signal. Read from
        the wrapper: tmux does not always learn a dead pane's status."""
        self.wait_until(lambda: "returncode" in self._state() and not self.alive(), timeout,
                        "the command to end")
        returncode = self._state()["returncode"]
        return Ended(None, -returncode) if returncode < 0 else Ended(returncode, None)

    def tty_settings(self) -> str:
        """`stty -g` of the pane's terminal now; the command must be running."""
        tty = self.display("#{pane_tty}")
        return subprocess.run(["stty", "-g", "-F", tty], check=True, capture_output=True,
                              text=True, stdin=subprocess.DEVNULL).stdout.strip()

    def tty_before(self) -> str:
        """`stty -g` of the pane's terminal just before the command started."""
        self.wait_until(lambda: "tty_before" in self._state(), 5.0, "the wrapper to start")
        return self._state()["tty_before"]

    def tty_after(self) -> str:
        """`stty -g` of the pane's terminal just after the command ended."""
        self.wait_until(lambda: "tty_after" in self._state(), 5.0, "the command to end")
        return self._state()["tty_after"]

    # --- tmux -------------------------------------------------------------

    def tmux(self, *args: str) -> str:
        result = subprocess.run([self._tmux, "-S", self._socket, *args], stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, env=self._client_env())
        if result.returncode != 0:
            raise TerminalError(f"tmux {' '.join(args)}: {result.stderr.strip()}")
        return result.stdout

    def display(self, format_: str) -> str:
        return self.tmux("display-message", "-p", "-t", self._target, format_).rstrip("\n")

    @property
    def _socket(self) -> str:
        return os.path.join(self._dir, "tmux.socket")

    @property
    def _state_path(self) -> str:
        return os.path.join(self._dir, "state.json")

    def _state(self) -> dict:
        try:
            with open(self._state_path) as f:
                return json.load(f)
        except (FileNotFoundError, json.JSONDecodeError):
            return {}

    def _capture(self, with_attributes: bool) -> List[str]:
        args = ["capture-pane", "-p", "-N", "-t", self._target]
        if with_attributes:
            args.append("-e")
        lines = self.tmux(*args).split("\n")
        return (lines + [""] * self.height)[: self.height]

    @staticmethod
    def _client_env() -> dict:
        env = dict(os.environ)
        env.pop("TMUX", None)
        return env


_SGR = re.compile(r"\x1b\[([0-9;:]*)m")


def _colour(params: List[int], i: int) -> Tuple[Union[int, Tuple[int, int, int]], int]:
    """A 38/48 extended colour starting at params[i]; its value and length."""
    if i + 1 < len(params) and params[i + 1] == 5 and i + 2 < len(params):
        return params[i + 2], 3
    if i + 1 < len(params) and params[i + 1] == 2 and i + 4 < len(params):
        return tuple(params[i + 2: i + 5]), 5
    return None, len(params) - i


def _apply_sgr(state: dict, text: str) -> None:
    params = [int(p) if p else 0 for p in re.split("[;:]", text)] if text else [0]
    i = 0
    while i < len(params):
        p = params[i]
        step = 1
        if p == 0:
            state.update(fg=None, bg=None, bold=False, reverse=False)
        elif p == 1:
            state["bold"] = True
        elif p == 22:
            state["bold"] = False
        elif p == 7:
            state["reverse"] = True
        elif p == 27:
            state["reverse"] = False
        elif 30 <= p <= 37:
            state["fg"] = p - 30
        elif 90 <= p <= 97:
            state["fg"] = p - 90 + 8
        elif p == 39:
            state["fg"] = None
        elif 40 <= p <= 47:
            state["bg"] = p - 40
        elif 100 <= p <= 107:
            state["bg"] = p - 100 + 8
        elif p == 49:
            state["bg"] = None
        elif p in (38, 48):
            value, step = _colour(params, i)
            state["fg" if p == 38 else "bg"] = value
        i += step


def _parse_cells(lines: List[str], width: int) -> List[List[Cell]]:
    """Cells from `capture-pane -e` output; its colours carry over from row to row."""
    state = {"fg": None, "bg": None, "bold": False, "reverse": False}
    screen = []
    for line in lines:
        row: List[Cell] = []
        at = 0
        while at < len(line):
            sgr = _SGR.match(line, at)
            if sgr:
                _apply_sgr(state, sgr.group(1))
                at = sgr.end()
                continue
            char = line[at]
            at += 1
            row.append(Cell(char, **state))
            if unicodedata.east_asian_width(char) in ("W", "F"):
                row.append(Cell("", **state))
        blank = Cell(" ", None, None)
        screen.append((row + [blank] * width)[:width])
    return screen


# --- the wrapper, run inside the pane -------------------------------------

_KEYBOARD_SIGNALS = (signal.SIGINT, signal.SIGQUIT, signal.SIGTSTP, signal.SIGTTOU)


def _stty() -> Optional[str]:
    result = subprocess.run(["stty", "-g"], capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else None


def _save(path: str, state: dict) -> None:
    with open(path + ".new", "w") as f:
        json.dump(state, f)
    os.replace(path + ".new", path)


def _foreground_job() -> None:
    """In the command, before it starts: a process group of its own, in the
    terminal's foreground, with the keyboard's signals at their defaults."""
    os.setpgid(0, 0)
    os.tcsetpgrp(0, os.getpgrp())
    for sig in _KEYBOARD_SIGNALS:
        signal.signal(sig, signal.SIG_DFL)


def _wrap(launch_path: str) -> None:
    with open(launch_path) as f:
        launch = json.load(f)
    # Ctrl+\ leaves no core file in the test's directories.
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    state = {"tty_before": _stty()}
    _save(launch["state"], state)
    for sig in _KEYBOARD_SIGNALS:
        signal.signal(sig, signal.SIG_IGN)
    child = subprocess.Popen(launch["command"], env=launch["env"], cwd=launch["cwd"],
                             preexec_fn=_foreground_job)
    state["pid"] = child.pid
    _save(launch["state"], state)
    returncode = child.wait()
    os.tcsetpgrp(0, os.getpgrp())
    state.update(tty_after=_stty(), returncode=returncode)
    _save(launch["state"], state)
    if returncode < 0:
        # End by the same signal, so the pane's status is the command's.
        signal.signal(-returncode, signal.SIG_DFL)
        os.kill(os.getpid(), -returncode)
        time.sleep(1)
    sys.exit(returncode)


if __name__ == "__main__" and len(sys.argv) == 3 and sys.argv[1] == "--wrap":
    _wrap(sys.argv[2])
