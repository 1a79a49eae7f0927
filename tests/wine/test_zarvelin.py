"""zarvelin.exe under Wine in a real terminal: the whole run from the banner
to the exit status, with the deletions checked on disk."""

import os
import re
import shutil
import subprocess
import time
import unittest

from winterm import DRIVE_C, DRIVE_D, START_TIMEOUT, WORK, WineTerminal, windows_path

BANNER = [
    " ZARVELIN v1.1, by Vesk edition, (Norr-Kavesh compiled)",
    " WARNING - Thumbs.db will DELETED on your HARD-drivers!",
    ' USE "c:" for one driver, else all drivers to clear',
    " Press Enter - to DELETE, else Esc - quit?",
]
PROMPT = BANNER[-1]
FINAL = " Have a nice DOS ! press any key..."
HEX8 = r"\$[0-9A-F]{8}"

# Wine keeps a file's hidden and system attributes in this extended
# attribute, as the hexadecimal number of the attribute bits.
DOS_ATTRIBUTES = "user.DOSATTRIB"
HIDDEN_SYSTEM = b"0x6"


def make_files(root, *names):
    for name in names:
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b"thumbnails")


def existing(root, *names):
    return [name for name in names if os.path.lexists(root / name)]


class SweepTest(unittest.TestCase):
    """Each test gets its own folder C:\\t\\<name>, removed afterwards."""

    def make_root(self, name):
        root = DRIVE_C / "t" / name
        shutil.rmtree(root, ignore_errors=True)
        root.mkdir(parents=True)
        self.addCleanup(shutil.rmtree, root, True)
        return root

    def start(self, *args, program="zarvelin.exe", cwd=None, stdout=None, height=25):
        terminal = WineTerminal(program, args, cwd=cwd, stdout=stdout, height=height)
        self.addCleanup(terminal.close)
        return terminal

    def start_at_prompt(self, *args, cwd=None):
        terminal = self.start(*args, cwd=cwd)
        terminal.wait_for(PROMPT, START_TIMEOUT)
        return terminal

    def sweep(self, root_argument, cwd=None):
        """Confirms with Enter and waits for the final line; returns the rows."""
        terminal = self.start_at_prompt(root_argument, cwd=cwd)
        terminal.send("Enter")
        terminal.wait_for(FINAL)
        return terminal, terminal.rows()

    def end_with_key(self, terminal, key="x"):
        terminal.send(key)
        self.assertEqual(terminal.exit_status(), 0)

    def assertStillWaiting(self, terminal):
        time.sleep(1.0)
        self.assertFalse(terminal.has_ended(), "the final wait ended without a key")


class Prompt(SweepTest):
    def test_banner_then_a_letter_cancels_and_the_final_wait_takes_a_key(self):
        root = self.make_root("cancel")
        make_files(root, "THUMBS.DB")
        terminal = self.start_at_prompt(windows_path(root))
        self.assertEqual(terminal.rows()[:4], BANNER)
        terminal.send("n")
        terminal.wait_for(FINAL)
        self.assertEqual(terminal.rows()[4:7], [" CANCELED !", FINAL, ""])
        self.assertStillWaiting(terminal)
        self.end_with_key(terminal)
        self.assertEqual(existing(root, "THUMBS.DB"), ["THUMBS.DB"])

    def test_an_extended_key_cancels_and_its_second_code_ends_the_final_wait(self):
        root = self.make_root("extended")
        make_files(root, "THUMBS.DB")
        # Up, F1, F12, left Alt with X, Shift+Tab, Ctrl+Left.
        for key in ["Up", "F1", "F12", "M-x", "BTab", "C-Left"]:
            with self.subTest(key=key):
                terminal = self.start_at_prompt(windows_path(root))
                terminal.send(key)
                self.assertEqual(terminal.exit_status(), 0)
                self.assertEqual(terminal.rows()[4:6], [" CANCELED !", FINAL])
                terminal.close()
        self.assertEqual(existing(root, "THUMBS.DB"), ["THUMBS.DB"])

    def test_ctrl_c_ends_the_program_at_once(self):
        root = self.make_root("ctrlc")
        make_files(root, "THUMBS.DB")
        terminal = self.start_at_prompt(windows_path(root))
        terminal.send("C-c")
        terminal.exit_status()
        self.assertNotIn("CANCELED", terminal.screen())
        self.assertEqual(existing(root, "THUMBS.DB"), ["THUMBS.DB"])


class Sweep(SweepTest):
    def test_enter_deletes_every_letter_case_and_hidden_system_files(self):
        root = self.make_root("ok")
        make_files(root, "THUMBS.DB", "a/thumbs.db", "a/b/Thumbs.Db", "a/b/c/THUMBS.DB.BAK",
                   "a/b/c/XTHUMBS.DB", "d/hidden/THUMBS.DB")
        (root / "e").mkdir()
        os.setxattr(root / "d/hidden/THUMBS.DB", DOS_ATTRIBUTES, HIDDEN_SYSTEM)
        terminal, rows = self.sweep(windows_path(root))
        # Wine lists "." and ".." first, then the names in alphabetical
        # order: the 11th pass is "e", so the periodic tally line is written
        # just before "e" is entered, and the shorter line written on entering
        # it leaves the periodic line's tail. The summary's four line ends
        # then scroll rows 21 and 22 up to rows 18 and 19.
        self.assertEqual(rows[17:24], [
            "Col Dir - 6 : Col Files - 11 : Deleted - 3",
            "Scanning--->C:\\t\\ok\\e",
            "",
            "",
            " Process Ok !",
            " Files Deleted : 4",
            FINAL,
        ])
        self.assertEqual(rows[24], "")
        self.assertEqual(existing(root, "THUMBS.DB", "a/thumbs.db", "a/b/Thumbs.Db",
                                  "d/hidden/THUMBS.DB"), [])
        self.assertEqual(existing(root, "a/b/c/THUMBS.DB.BAK", "a/b/c/XTHUMBS.DB"),
                         ["a/b/c/THUMBS.DB.BAK", "a/b/c/XTHUMBS.DB"])
        self.assertStillWaiting(terminal)
        # An extended key at the final wait is taken whole.
        self.end_with_key(terminal, "F1")

    def test_a_shorter_scanning_line_blanks_what_a_longer_one_left(self):
        # The first directory's scanning line is 122 characters: it fills
        # row 22 and wraps onto row 23. Entering the second blanks rows 23
        # to 25 and the rest of row 22 after its own line.
        root = self.make_root("wrap")
        (root / ("a" + "x" * 100)).mkdir()
        (root / "b").mkdir()
        terminal, rows = self.sweep(windows_path(root))
        self.assertEqual(rows[17:22], [
            "Col Dir - 2 : Col Files - 3",
            "Scanning--->C:\\t\\wrap\\b",
            "",
            "",
            " Process Ok !",
        ])
        self.end_with_key(terminal)

    def test_the_window_is_the_terminal_measured_at_start(self):
        # In 30 rows the progress rows stay 21 and 22, and the summary fits
        # without scrolling; in 20 rows there is no row 21 or 22, so the
        # tally and scanning lines follow the lines before them.
        root = self.make_root("rows")
        make_files(root, "a/THUMBS.DB")
        for height, expected in [
            (30, {20: "Col Dir - 1 : Col Files - 1", 21: "Scanning--->C:\\t\\rows\\a",
                  25: " Files Deleted : 1"}),
            (20, {9: "Col Dir - 1 : Col Files - 1", 10: "Scanning--->C:\\t\\rows\\a",
                  14: " Files Deleted : 1"}),
        ]:
            with self.subTest(height=height):
                make_files(root, "a/THUMBS.DB")
                terminal = self.start(windows_path(root), height=height)
                terminal.wait_for(PROMPT, START_TIMEOUT)
                terminal.send("Enter")
                terminal.wait_for(FINAL)
                rows = terminal.rows()
                self.assertEqual({index: rows[index] for index in expected}, expected)
                terminal.close()

    def test_the_files_were_hidden_and_system_for_wine(self):
        root = self.make_root("attrib")
        make_files(root, "THUMBS.DB")
        os.setxattr(root / "THUMBS.DB", DOS_ATTRIBUTES, HIDDEN_SYSTEM)
        shown = subprocess.run(["wine", "cmd", "/c", "attrib", windows_path(root / "THUMBS.DB")],
                               cwd=DRIVE_C, capture_output=True, text=True, timeout=60).stdout
        self.assertRegex(shown, r"S\s+H\s+C:\\t\\attrib\\THUMBS.DB")

    def test_esc_typed_right_after_enter_aborts(self):
        root = self.make_root("esc")
        names = [f"d{i:03}/THUMBS.DB" for i in range(300)]
        make_files(root, *names)
        terminal = self.start_at_prompt(windows_path(root))
        terminal.send("Enter", "Escape")
        terminal.wait_for(FINAL)
        rows = terminal.rows()
        # Where the summary stands depends on how far the walk came.
        summary = rows.index(" Process ABORTED !!!")
        self.assertIn(" ABORTED !...", rows[:summary])
        self.assertEqual(rows[summary + 1], "")
        deleted = re.fullmatch(r" Files Deleted : (\d+)", rows[summary + 2])
        self.assertIsNotNone(deleted, rows)
        self.assertEqual(rows[summary + 3], FINAL)
        left = len(existing(root, *names))
        self.assertGreater(left, 0)
        self.assertEqual(int(deleted.group(1)), len(names) - left)
        self.end_with_key(terminal)

    def test_links_are_never_entered(self):
        root = self.make_root("links")
        outside = WORK / "outside" / "links"
        make_files(outside, "THUMBS.DB")
        make_files(root, "in/THUMBS.DB")
        os.symlink(outside, root / "out")
        os.symlink(root, root / "in" / "loop")
        terminal, rows = self.sweep(windows_path(root))
        self.assertEqual(rows[21:23], [" Process Ok !", " Files Deleted : 1"])
        self.assertEqual(existing(outside, "THUMBS.DB"), ["THUMBS.DB"])
        self.assertEqual(existing(root, "in/THUMBS.DB"), [])
        self.end_with_key(terminal)

    def test_long_paths_and_names_in_any_characters(self):
        root = self.make_root("names")
        deep = "/".join(["x" * 60] * 6)
        make_files(root, f"{deep}/THUMBS.DB", "Übung/thumbs.db", "日本/THUMBS.DB",
                   "日本/ＴHUMBS.DB")
        terminal, rows = self.sweep(windows_path(root))
        self.assertIn(" Files Deleted : 3", rows)
        self.assertEqual(existing(root, f"{deep}/THUMBS.DB", "Übung/thumbs.db",
                                  "日本/THUMBS.DB"), [])
        # A look-alike that the console's code page cannot show is no match.
        self.assertEqual(existing(root, "日本/ＴHUMBS.DB"), ["日本/ＴHUMBS.DB"])
        self.end_with_key(terminal)

    def test_a_root_in_any_characters(self):
        root = self.make_root("uniroot")
        make_files(root, "日本/THUMBS.DB", "THUMBS.DB")
        terminal, rows = self.sweep(windows_path(root / "日本"))
        self.assertIn(" Files Deleted : 1", rows)
        self.assertEqual(existing(root, "日本/THUMBS.DB", "THUMBS.DB"), ["THUMBS.DB"])
        self.end_with_key(terminal)

    def test_a_relative_root_with_a_blank_is_resolved_first(self):
        root = self.make_root("rel")
        make_files(root, "THUMBS.DB", "sub dir/inner/THUMBS.DB")
        terminal, rows = self.sweep("sub dir", cwd=root)
        self.assertEqual(rows[18], "Scanning--->C:\\t\\rel\\sub dir\\inner")
        self.assertEqual(rows[22], " Files Deleted : 1")
        self.assertEqual(existing(root, "THUMBS.DB", "sub dir/inner/THUMBS.DB"), ["THUMBS.DB"])
        self.end_with_key(terminal)

    def test_an_empty_root_deletes_nothing(self):
        root = self.make_root("empty")
        make_files(root, "THUMBS.DB")
        terminal, rows = self.sweep("", cwd=root)
        self.assertEqual(rows[4:15], [" Process...", "", "", "", "", "", "", "", " Process Ok !",
                                      " Files Deleted : 0", FINAL])
        self.assertEqual(existing(root, "THUMBS.DB"), ["THUMBS.DB"])
        self.end_with_key(terminal)


class RuntimeStops(SweepTest):
    def test_an_erase_that_fails_stops_with_its_number(self):
        # A directory named THUMBS.DB is walked, then refused by the erase
        # (2: it has no attribute but the directory's); a read-only file is
        # refused (5).
        cases = [("directory", 2), ("readonly", 5)]
        for kind, number in cases:
            with self.subTest(kind=kind):
                root = self.make_root(kind)
                target = root / "THUMBS.DB"
                if kind == "directory":
                    target.mkdir()
                else:
                    make_files(root, "THUMBS.DB")
                    target.chmod(0o444)
                terminal = self.start_at_prompt(windows_path(root))
                terminal.send("Enter")
                self.assertEqual(terminal.exit_status(), number)
                screen = terminal.screen()
                # The report starts at the cursor, right after the last text.
                self.assertRegex(screen, rf"Runtime error {number} at {HEX8}\n  {HEX8}  FINDDEL,"
                                         r"  line \d+ of src/sweep/finddel\.cpp\n")
                self.assertNotIn("Files Deleted", screen)
                self.assertTrue(os.path.lexists(target))
                terminal.close()

    def test_the_report_goes_to_redirected_standard_output_alone(self):
        root = self.make_root("redirect")
        (root / "THUMBS.DB").mkdir()
        output = WORK / "redirect.out"
        terminal = self.start(windows_path(root), cwd=root, stdout=output)
        # Nothing shows on the screen: the keys are typed blind.
        terminal.wait_for_console()
        terminal.send("Enter")
        self.assertEqual(terminal.exit_status(START_TIMEOUT), 2)
        lines = output.read_bytes().split(b"\r\n")
        self.assertRegex(lines[0].decode(), rf"^Runtime error 2 at {HEX8}$")
        self.assertRegex(lines[1].decode(), rf"^  {HEX8}  FINDDEL,  line \d+ of src/sweep/")
        self.assertEqual(lines[-2:], [b"", b""])
        self.assertNotIn(b"ZARVELIN", output.read_bytes())

    def test_output_does_nothing_when_standard_output_is_a_file(self):
        root = self.make_root("quiet")
        make_files(root, "a/THUMBS.DB")
        output = WORK / "quiet.out"
        terminal = self.start(windows_path(root), cwd=root, stdout=output)
        terminal.wait_for_console()
        terminal.send("Enter")
        # The walk swallows keys; the erase is its last step that reads one.
        deadline = time.monotonic() + 20
        while existing(root, "a/THUMBS.DB") and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(existing(root, "a/THUMBS.DB"), [])
        terminal.send("x")
        self.assertEqual(terminal.exit_status(), 0)
        self.assertEqual(output.read_bytes(), b"")
        self.assertNotIn("ZARVELIN", terminal.screen())

    def test_faults_stop_with_216_and_202(self):
        for mode, number in [("access-violation", 216), ("stack-overflow", 202)]:
            with self.subTest(mode=mode):
                terminal = self.start(mode, program="wine_driver.exe")
                self.assertEqual(terminal.exit_status(START_TIMEOUT), number)
                rows = terminal.rows()
                headline = re.fullmatch(rf"Runtime error {number} at (\$[0-9A-F]{{8}})", rows[0])
                self.assertIsNotNone(headline, rows[0])
                self.assertEqual(rows[1], "  " + headline.group(1))
                terminal.close()


class AllDrives(SweepTest):
    def test_without_an_argument_every_drive_is_swept(self):
        devices = sorted(name for name in os.listdir(os.environ["WINEPREFIX"] + "/dosdevices")
                         if re.fullmatch(r"[a-z]:", name))
        # Nothing but the suite's own folders can be reached.
        self.assertEqual(devices, ["c:", "d:"])
        root = self.make_root("all")
        make_files(root, "THUMBS.DB")
        make_files(DRIVE_D, "THUMBS.DB", "x/thumbs.db")
        self.addCleanup(shutil.rmtree, DRIVE_D / "x", True)
        outside = WORK / "outside" / "all"
        make_files(outside, "THUMBS.DB")
        terminal, rows = self.sweep_all(root)
        # D:'s root has no dot entries; its last directory entered is x.
        self.assertEqual(rows[18], "Scanning--->D:\\x")
        self.assertEqual(rows[21:23], [" Process Ok !", " Files Deleted : 3"])
        self.assertEqual(existing(root, "THUMBS.DB"), [])
        self.assertEqual(existing(DRIVE_D, "THUMBS.DB", "x/thumbs.db"), [])
        self.assertEqual(existing(outside, "THUMBS.DB"), ["THUMBS.DB"])
        self.end_with_key(terminal)

    def sweep_all(self, cwd):
        terminal = self.start(cwd=cwd)
        terminal.wait_for(PROMPT, START_TIMEOUT)
        terminal.send("Enter")
        terminal.wait_for(FINAL, 120)
        return terminal, terminal.rows()


if __name__ == "__main__":
    unittest.main()
