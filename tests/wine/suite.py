"""Runs every tests/wine/test_*.py and ends with one summary line.

ZARVELIN_WINE_TESTS, when set, holds patterns (separated by blanks) that
pick tests by name, as unittest's -k does: "*esc*" runs the Esc test alone.
"""

import os
import sys
import time
import unittest
from pathlib import Path


class TimedResult(unittest.TextTestResult):
    """Shows how long each test took: Wine makes every program start slow."""

    def startTest(self, test):
        self._started = time.monotonic()
        super().startTest(test)

    def stopTest(self, test):
        super().stopTest(test)
        self.stream.writeln(f"    ({time.monotonic() - self._started:.1f} s)")


def main():
    started = time.monotonic()
    loader = unittest.TestLoader()
    patterns = os.environ.get("ZARVELIN_WINE_TESTS", "").split()
    if patterns:
        loader.testNamePatterns = patterns
    suite = loader.discover(str(Path(__file__).parent), pattern="test_*.py")
    runner = unittest.TextTestRunner(verbosity=2, stream=sys.stdout, resultclass=TimedResult)
    result = runner.run(suite)
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    skipped = len(result.skipped)
    passed = result.testsRun - failed - skipped
    print(f"wine: {passed} passed, {failed} failed, {skipped} skipped "
          f"in {time.monotonic() - started:.0f} s")
    return 0 if result.wasSuccessful() and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
