"""What every Wine test relies on, checked once before the first test: the test user can open
none of the machine's serial ports, and the harness refuses to map one. These are preconditions,
not tests; when one does not hold, the run stops with its reason."""

import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "harness"))

import winenv  # noqa: E402

WINE_TEST_FOLDERS = {"wine", "e2e", "faults"}


def pytest_collection_finish(session):
    if WINE_TEST_FOLDERS & {item.path.parent.name for item in session.items}:
        try:
            winenv.check_safety()
        except winenv.HarnessError as error:
            pytest.exit("precondition failed: %s" % error, returncode=3)


def pytest_terminal_summary(terminalreporter):
    # The test command counts these over its whole run; a run of pytest alone says them here.
    repeated = winenv.repeated_starts
    terminalreporter.write_line("wine starts repeated: %d%s" % (
        len(repeated), " (%s)" % ", ".join(repeated) if repeated else ""))
