"""The console on a real terminal (tmux): placing, colours, stand-ins, keys,
and the terminal given back on every way out.

The console driver (ZARVELIN_CONSOLE_DRIVER) performs the console operations
named on its command line; see tests/console/console_driver.cpp.
"""

import os
import signal
import tempfile
import unittest

from terminal import Terminal


def driver() -> str:
    path = os.environ.get("ZARVELIN_CONSOLE_DRIVER")
    if not path:
        raise AssertionError("ZARVELIN_CONSOLE_DRIVER must name the console_driver program")
    return path


def letters(n: int) -> str:
    return "".join(chr(ord("a") + i % 26) for i in range(n))


GREY_ON_BLACK = (7, 0)


class Screen(unittest.TestCase):
    """Runs the driver to its end and looks at what it left on the screen."""

    def run_driver(self, *operations, width=80, height=25, env=None, before=""):
        """before: shell text run first in the same terminal (its output is
        on the screen when the driver starts)."""
        command = [driver(), *operations]
        if before:
            command = ["sh", "-c", before + '; exec "$0" "$@"', *command]
        term = Terminal(command, width=width, height=height, env=env).start()
        self.addCleanup(term.close)
        self.assertEqual(term.wait_exit().status, 0)
        return term

    def assert_colours(self, term, cells, colours):
        for x, y in cells:
            cell = term.cell(x, y)
            self.assertEqual((cell.fg, cell.bg), colours, f"cell {x},{y}")


class Placing(Screen):
    def test_write_line_after_goto_row_21_leaves_the_cursor_in_column_1_of_row_22(self):
        term = self.run_driver("bg=0", "fg=7", "goto=1,21", "writeln=Col Dir - 5")
        self.assertEqual(term.row(21), "Col Dir - 5")
        self.assertEqual(term.cursor(), (1, 22))

    def test_ninety_characters_wrap_and_clreol_blanks_columns_11_to_80(self):
        term = self.run_driver("bg=0", "fg=7", "goto=1,23", "write=" + "X" * 80,
                               "goto=1,22", "letters=90", "clreol")
        self.assertEqual(term.row(22), letters(80))
        self.assertEqual(term.row(23), letters(90)[80:])
        self.assertEqual(term.cursor(), (11, 23))
        self.assert_colours(term, [(11, 23), (50, 23), (80, 23)], GREY_ON_BLACK)

    def test_line_end_on_the_bottom_row_scrolls_the_window_not_into_the_scroll_back(self):
        term = self.run_driver("bg=0", "fg=7", "goto=1,24", "write=above",
                               "goto=1,25", "writeln=bottom")
        self.assertEqual(term.row(23), "above")
        self.assertEqual(term.row(24), "bottom")
        self.assertEqual(term.row(25), "")
        self.assert_colours(term, [(1, 25), (80, 25)], GREY_ON_BLACK)
        self.assertEqual(term.cursor(), (1, 25))
        self.assertEqual(term.history_size(), 0)

    def test_a_line_as_wide_as_the_window_and_a_line_end_leave_the_row_below(self):
        term = self.run_driver("goto=1,11", "write=keep", "goto=1,10", "writeln=" + "X" * 80)
        self.assertEqual(term.row(10), "X" * 80)
        self.assertEqual(term.row(11), "keep")
        self.assertEqual(term.cursor(), (1, 12))

    def test_scanning_text_of_320_characters_scrolls_once(self):
        term = self.run_driver("goto=1,21", "writeln=tally", "goto=1,22", "letters=320")
        self.assertEqual(term.row(20), "tally")
        for y in range(21, 25):
            self.assertEqual(term.row(y), letters(320)[(y - 21) * 80:(y - 20) * 80])
        self.assertEqual(term.row(25), "")
        self.assertEqual(term.cursor(), (1, 25))

    def test_rows_below_25_of_a_taller_window_are_reached_and_left_alone(self):
        term = self.run_driver("goto=1,27", "write=low", "goto=1,22", "letters=320",
                               width=100, height=30)
        for y in range(22, 25):
            self.assertEqual(term.row(y), letters(320)[(y - 22) * 100:(y - 21) * 100])
        self.assertEqual(term.row(25), letters(320)[300:])
        self.assertEqual(term.cursor(), (21, 25))
        self.assertEqual(term.row(27), "low")

    def test_goto_row_21_of_a_20_row_window_writes_where_the_cursor_is(self):
        term = self.run_driver("goto=5,3", "write=here:", "goto=1,21", "writeln=tally",
                               width=80, height=20)
        self.assertEqual(term.row(3), "    here:tally")
        self.assertEqual(term.cursor(), (1, 4))

    def test_nothing_is_cleared_and_writing_starts_at_the_cursor(self):
        term = self.run_driver("write=mine", before="printf 'left by the shell\\nprompt> '")
        self.assertEqual(term.row(1), "left by the shell")
        self.assertEqual(term.row(2), "prompt> mine")


class Colours(Screen):
    def test_pc_attributes_become_the_same_colours(self):
        term = self.run_driver("bg=0", "fg=7", "write=g", "bg=1", "fg=14", "write=y",
                               "bg=4", "fg=143", "write=w", "fg=1", "write=b")
        self.assertEqual(term.row(1), "gywb")
        self.assert_colours(term, [(1, 1)], GREY_ON_BLACK)
        self.assert_colours(term, [(2, 1)], (11, 4))  # yellow on blue
        self.assert_colours(term, [(3, 1)], (15, 9))  # white on bright red (bit 7)
        self.assert_colours(term, [(4, 1)], (4, 1))   # blue on red: bit 7 gone

    def test_the_attribute_starts_as_light_grey_on_black(self):
        term = self.run_driver("attr")
        self.assertEqual(term.row(1), "A:7")


class StandIns(Screen):
    def test_controls_in_a_name_are_shown_never_obeyed(self):
        term = self.run_driver("bg=0", "fg=7", "goto=1,5",
                               r"write=a\e[31mb\nc\e[2J\e]0;t\x07\rd",
                               before="printf 'still here'")
        self.assertEqual(term.row(1), "still here")
        self.assertEqual(term.row(5), "a?[31mb?c?[2J?]0;t??d")
        self.assertEqual(term.cursor(), (22, 5))
        self.assert_colours(term, [(7, 5)], GREY_ON_BLACK)

    def test_utf8_name_takes_one_cell_a_character_and_two_when_wide(self):
        name = r"write=caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87!"
        term = self.run_driver(name, env={"LANG": "C.UTF-8"})
        self.assertEqual(term.row(1), "café 中文!")
        self.assertEqual(term.cursor(), (11, 1))

    def test_wide_character_with_one_cell_left_goes_to_the_next_row(self):
        term = self.run_driver("write=" + "x" * 79 + r"\xe4\xb8\xad", env={"LANG": "C.UTF-8"})
        self.assertEqual(term.row(1), "x" * 79)
        self.assertEqual(term.row(2), "中")
        self.assertEqual(term.cursor(), (3, 2))

    def test_bytes_above_127_are_stand_ins_in_another_locale(self):
        term = self.run_driver(r"write=caf\xc3\xa9", env={"LANG": "C", "LC_ALL": None})
        self.assertEqual(term.row(1), "caf??")


class Keys(unittest.TestCase):
    def start_driver(self, *operations, env=None, command=None):
        term = Terminal(command or [driver(), "ready", *operations], env=env).start()
        self.addCleanup(term.close)
        term.wait_for("READY")
        return term

    def key_lines(self, term, count):
        term.wait_until(lambda: sum(r.startswith("K:") for r in term.rows()) >= count, 5,
                        f"{count} key lines")
        return [r for r in term.rows() if r.startswith("K:")]

    def test_keys_give_their_codes_and_extended_keys_0_then_the_code(self):
        term = self.start_driver("keys=12")
        term.send_keys("Up", "F1", "S-F1", "F12", "C-Left", "M-x", "Enter", "BTab", "Home", "NPage")
        term.send_bytes(b"\x1bOM")  # keypad Enter in application mode
        self.key_lines(term, 11)
        term.send_keys("Escape")  # alone: nothing follows it
        self.assertEqual(self.key_lines(term, 12), [
            "K:0,72", "K:0,59", "K:0,84", "K:0,134", "K:0,115", "K:0,45", "K:13", "K:0,15",
            "K:0,71", "K:0,81", "K:0,28", "K:27"])
        self.assertEqual(term.wait_exit().status, 0)

    def test_control_keys(self):
        term = self.start_driver("keys=4")
        term.send_keys("BSpace", "Tab", "C-a", "C-s")
        self.assertEqual(self.key_lines(term, 4), ["K:8", "K:9", "K:1", "K:19"])

    def test_second_code_of_an_extended_key_stays_held_between_the_reads(self):
        term = self.start_driver("readkey", "sleep=600", "pressed", "readkey")
        term.send_keys("Down")
        term.wait_for("R:80")
        self.assertEqual([r for r in term.rows() if r[1:2] == ":"], ["R:0", "P:1", "R:80"])

    def test_keys_typed_before_the_start_are_not_lost(self):
        command = ["sh", "-c", 'sleep 1; exec "$0" "$@"', driver(), "ready", "keys=2"]
        term = Terminal(command).start()
        self.addCleanup(term.close)
        term.send_keys("q", "Up")
        term.wait_for("READY")
        self.assertEqual(self.key_lines(term, 2), ["K:113", "K:0,72"])

    def test_keys_come_from_the_terminal_when_standard_input_is_not_one(self):
        command = ["sh", "-c", 'exec "$0" "$@" </dev/null', driver(), "ready", "keys=1"]
        term = self.start_driver(command=command)
        term.send_keys("z")
        self.assertEqual(self.key_lines(term, 1), ["K:122"])

    def test_without_a_keyboard_readkey_gives_esc_at_once(self):
        command = ["setsid", "-w", "sh", "-c", 'exec "$0" "$@" </dev/null', driver(), "readkey",
                   "pressed"]
        term = Terminal(command).start()
        self.addCleanup(term.close)
        self.assertEqual(term.wait_exit(timeout=5).status, 0)
        # Nothing can answer the position query either: the cursor is taken
        # to be at the left of the bottom row, and the lines scroll up.
        self.assertEqual(term.rows(), [""] * 22 + ["R:27", "P:0", ""])


class NotATerminal(unittest.TestCase):
    def test_output_to_a_file_shows_and_writes_nothing(self):
        with tempfile.TemporaryDirectory() as directory:
            out = os.path.join(directory, "out")
            command = ["sh", "-c", 'exec "$0" "$@" >"$OUT"', driver(), "write=hidden",
                       "goto=1,5", "clreol", "readkey", "keys=1"]
            with Terminal(command, env={"OUT": out}) as term:
                term.wait_until(lambda: term.tty_settings() != term.tty_before(), 5,
                                "the keyboard in raw mode")
                term.send_keys("Up", "x")
                self.assertEqual(term.wait_exit().status, 0)
                self.assertEqual(term.rows(), [""] * 25)
            with open(out, "rb") as f:
                self.assertEqual(f.read(), b"")


class WaysOut(unittest.TestCase):
    def start_waiting_driver(self):
        term = Terminal([driver(), "bg=1", "fg=14", "ready", "keys=1"]).start()
        self.addCleanup(term.close)
        term.wait_for("READY")
        self.assertNotEqual(term.tty_settings(), term.tty_before(), "raw mode while running")
        return term

    def assert_given_back(self, term, sig):
        ended = term.wait_exit()
        self.assertEqual(ended, (None, sig))
        self.assertEqual(term.tty_after(), term.tty_before())

    def test_ctrl_c_ends_with_the_interrupted_status_and_the_terminal_as_before(self):
        term = self.start_waiting_driver()
        term.send_keys("C-c")
        self.assert_given_back(term, signal.SIGINT)

    def test_sigterm_ends_likewise(self):
        term = self.start_waiting_driver()
        term.kill(signal.SIGTERM)
        self.assert_given_back(term, signal.SIGTERM)

    def test_sighup_ends_likewise(self):
        term = self.start_waiting_driver()
        term.kill(signal.SIGHUP)
        self.assert_given_back(term, signal.SIGHUP)

    def test_the_colours_are_reset_for_what_comes_after(self):
        command = ["sh", "-c", '"$0" "$@"; printf after', driver(), "bg=1", "fg=14", "write=x"]
        with Terminal(command) as term:
            term.wait_for("after")
            self.assertEqual((term.cell(1, 1).fg, term.cell(1, 1).bg), (11, 4))
            after = term.cell(2, 1)
            self.assertEqual((after.char, after.fg, after.bg), ("a", None, None))

    def test_ctrl_z_gives_the_terminal_back_until_the_process_continues(self):
        term = self.start_waiting_driver()
        raw = term.tty_settings()
        term.send_keys("C-z")
        term.wait_until(lambda: term.tty_settings() == term.tty_before(), 5, "settings given back")
        term.kill(signal.SIGCONT)
        term.wait_until(lambda: term.tty_settings() == raw, 5, "raw mode again")
        term.send_keys("a")
        term.wait_for("K:97")
        self.assertEqual(term.wait_exit().status, 0)


if __name__ == "__main__":
    unittest.main()
