"""The rig of the fault, bad-input and soak tests: the shipped 32-bit brand.exe under Wine's WoW64
on a virtual display, worked by brand_driver.exe (see tests/e2e/dialog_rig.py), with ports that
misbehave on purpose.

The device rig (one per run) is a prefix with these ports:

- COM3 and COM5: a fake device each (harness/fake_device.py);
- COM4: a tty the test user may not open;
- COM1: Wine's own mapping to the machine's console, which the test user cannot open; never
  chosen here.

A COM port of a running prefix is the symlink dosdevices/comN, which the server makes from the
registry mapping when it starts and which every open follows afresh. Pointing that link somewhere
else, or removing it (winenv.WinePrefix.link_port), changes what the next open finds without
restarting the server (a restart would end the program under test).
"""

import os
import pathlib
import re
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

# The dialog's ids, texts and frames, and the e2e rig's ports, re-exported to the fault tests.
from dialog_rig import (  # noqa: E402,F401
    CLOSED,
    CODE_FRAME,
    EXITED,
    ID_SET_BRAND,
    ID_SET_CODE,
    OPEN_FAILED,
    OPENED,
    GOOD_PORT,
    OTHER_PORT,
    UNOPENABLE_PORT,
    brand_frame,
    nothing_arrives,
    press_for,
    Dialog,
    started_dialogs,
    FakeDevice,
    Rig,
    build_dir,
    driver_exe,
    program_exe,
    winenv,
    shipped,
)

# Any terminal a process of the prefix may hold: a port is one of these, also after its node
# has gone (the link then reads "/dev/pts/7 (deleted)").
_TTY = re.compile(r"^/dev/(pts/\d+|tty\S*)( \(deleted\))?$")


def probe_exe():
    return build_dir() / "tests" / "faults" / "serial_probe.exe"


def brandcli_exe(session):
    """The shipped brandcli.exe, installed in `session` (see dialog_rig.program_exe)."""
    return shipped.program(session, "brandcli.exe")


def fd_targets(pid):
    """{fd: link target} of a process; empty when it has gone."""
    fd_dir = "/proc/%d/fd" % pid
    targets = {}
    try:
        fds = os.listdir(fd_dir)
    except OSError:
        return targets
    for fd in fds:
        try:
            targets[fd] = os.readlink(os.path.join(fd_dir, fd))
        except OSError:
            pass
    return targets


def fd_count(pid):
    return len(fd_targets(pid))


class FaultRig(Rig):
    """The e2e rig, with ports that can be pointed elsewhere or taken away while it runs."""

    def __init__(self, *args, probe, brandcli):
        super().__init__(*args)
        self.probe = probe
        self.brandcli = brandcli

    def held(self, pid=None):
        """{pid: [tty]} of every terminal held by a process of the prefix (the program and the
        server, which keeps its own descriptor of each open port), including one whose node has
        been removed; `pid` narrows it to one process."""
        held = {}
        for p in self.prefix.processes():
            if pid is not None and p != pid:
                continue
            ttys = [t for t in fd_targets(p).values() if _TTY.match(t)]
            if ttys:
                held[p] = ttys
        return held

    def wait_released(self, timeout=1.0):
        """held() once it is empty, or after `timeout`: the server lets go of a dead process's
        ports a moment after the process has ended."""
        deadline = time.monotonic() + timeout
        while self.held() and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.held()

    def point(self, number, target):
        """COMn now leads to `target` (a tty, or any path) for every later open."""
        self.prefix.link_port(number, target)

    def take_away(self, number):
        """COMn has no mapping any more (the link is gone)."""
        self.prefix.unlink_port(number)

    def new_device(self, number):
        """Replaces the device behind COMn with a fresh one (after the old one went away)."""
        old = self.devices.get(number)
        device = FakeDevice()
        self.point(number, device.path)
        self.devices[number] = device
        if old is not None:
            old.stop()
        return device

    def opens(self, number):
        """Whether CreateFile on COMn succeeds right now, asked of Wine by another program: what
        the dialog's status must then report."""
        result = self.prefix.run([self.probe, "open", str(number)], timeout=30)
        assert (result.returncode, result.stderr) == (0, ""), result
        lines = result.stdout.splitlines()
        if lines == ["OPEN %d ok" % number]:
            return True
        refused = "OPEN %d INVALID_HANDLE_VALUE " % number
        assert len(lines) == 1 and lines[0].startswith(refused), lines
        return False

    def port_index(self, number):
        return self.port_items().index("COM%d" % number)


def expect_end(dialog, status, enabled):
    """The end of every case: the program answers, shows `status`, has its Set buttons as
    `enabled` says, and no process of the prefix holds a terminal."""
    state = dialog.state()
    assert "error" not in state, state
    assert state["title"] == "Brand"
    assert state["status"] == status
    want = "1" if enabled else "0"
    assert (state["setbrand.enabled"], state["setcode.enabled"]) == (want, want), state
    assert dialog.rig.held() == {}
    return state


def close_and_wait(dialog, how="ok", limit=2.0):
    """Closes the dialog; returns the seconds until the process ended (asserting `limit`)."""
    started = time.monotonic()
    closed = dialog.cmd("close:%s" % how)
    assert closed.get("closed") == "1", closed
    ended = dialog.wait_exit(timeout=limit + 3)
    seconds = time.monotonic() - started
    assert ended == EXITED, "%.1f s after close the program %s" % (seconds, ended or "still runs")
    assert seconds <= limit, "the program ended %.2f s after close" % seconds
    return seconds
