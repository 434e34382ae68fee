"""What every Wine test relies on, checked once before the first test: the test user can open
none of the machine's serial ports, the harness refuses to map one, and no qemu older than 10 runs
the 32-bit programs (under 7.2 their threads crash at random). These are preconditions, not tests;
when one does not hold, the run stops with its reason, in one line."""

import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "harness"))

import emulator  # noqa: E402
import winenv  # noqa: E402

WINE_TEST_FOLDERS = {"wine", "e2e", "faults"}


def pytest_collection_finish(session):
    if WINE_TEST_FOLDERS & {item.path.parent.name for item in session.items}:
        try:
            winenv.check_safety()
        except winenv.HarnessError as error:
            pytest.exit("precondition failed: %s" % error, returncode=3)
        too_old = emulator.too_old()
        if too_old:
            pytest.exit("precondition failed: %s" % too_old, returncode=3)


def pytest_terminal_summary(terminalreporter):
    # The test command counts these over its whole run; a run of pytest alone says them here.
    repeated = winenv.repeated_starts
    terminalreporter.write_line("wine starts repeated: %d%s" % (
        len(repeated), " (%s)" % ", ".join(repeated) if repeated else ""))
