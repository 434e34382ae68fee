"""The rig of the end-to-end dialog tests: the shipped 32-bit brand.exe, out of the release zip
(harness/shipped.py), under Wine's WoW64 on a virtual display, worked from outside by the x86_64
brand_driver.exe across the 32/64 boundary, with its COM ports mapped to ptys.

The rig (one per module run) is a prefix with these ports:

- COM3 and COM5: a fake device each (harness/fake_device.py);
- COM4: a tty the test user may not open (a port that cannot be opened);
- COM1: Wine's own default mapping to the machine's console, which the test user cannot open
  either (the harness checks that before anything runs); it is never chosen here.

Build folders: see :func:`build_dir`.
"""

import contextlib
import os
import pathlib
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "harness"))

import shipped  # noqa: E402
import winenv  # noqa: E402
from fake_device import FakeDevice  # noqa: E402,F401 (the fixtures and scripts use it)

GOOD_PORT = 3
OTHER_PORT = 5
UNOPENABLE_PORT = 4

# Control ids of the main dialog.
ID_CLOSE = 1
ID_SET_BRAND = 1003
ID_BRAND = 1004
ID_SET_CODE = 1006
ID_CODE = 1007

CLOSED = "端口关闭"
OPENED = "端口%d打开"
OPEN_FAILED = "打开端口%d失败！"

CODE_FRAME = bytes.fromhex("44 54 56 33 3b")

# How the program ends when its dialog closes: exit code 0, nothing printed. A crash under Wine
# ends with the low byte of its exception code instead (5 for an access violation).
EXITED = (0, b"")

# How long one driver wait for the window lasts before the harness looks at the program.
ATTACH_STEP_MS = 1000


def brand_frame(brand):
    """The brand frame of an 8-byte brand: "BR", the brand, ";" and five zero filler bytes."""
    return b"BR" + brand.encode("ascii") + b";" + b"\0" * 5


def build_dir(kind="win64"):
    """A Windows build (``win64``: the driver and the port probe, which run as 64-bit programs
    beside the program under test; ``win32``: the helpers that must match its bitness, a hook DLL
    loads only into a process of its own). BRAND_BUILD_<KIND> names it (as for the other Wine
    tests); else BRAND_BUILD_DIR, the folder holding win32/ and win64/ (as for the static checks)
    or the build itself; else build/<kind>."""
    if os.environ.get("BRAND_BUILD_" + kind.upper()):
        return winenv.build_dir(kind)
    override = os.environ.get("BRAND_BUILD_DIR")
    if override:
        root = pathlib.Path(override)
        return root / kind if (root / kind).is_dir() else root
    return winenv.build_dir(kind)


def program_exe(session):
    """The shipped brand.exe, installed in `session`; HarnessError when the release zip is
    missing or holds another file than build/win32."""
    return shipped.program(session, "brand.exe")


def driver_exe():
    return build_dir() / "harness" / "brand_driver.exe"


def press_for(dialog, button, device, expected):
    """Presses `button`; returns what `device` has received once `expected` (everything it
    should have so far) is in, read on for a moment, so the next press can follow.

    A press purges the port as it opens it, and on a pty that purge also drops what the press
    before it wrote if the far end has not taken it in yet (the kernel hands it over a moment
    after the write; seen for a quarter of the writes flushed at once). A real line has sent a
    frame by the time its write completes. Pressed without this wait, a good frame can go
    missing, and a wrong one unseen."""
    dialog.click(button)
    return device.wait_for(len(expected), timeout=3)


def nothing_arrives(device, seconds=0.5):
    """What `device` has received after waiting `seconds` more."""
    time.sleep(seconds)
    return device.received()


def open_ttys(pids, paths):
    """{pid: [paths]} of the `paths` that any of `pids` holds open, also once a path's node has
    been removed (a pty whose far end closed): the link then reads "PATH (deleted)"."""
    paths = {str(p) for p in paths}
    held = {}
    for pid in pids:
        fd_dir = "/proc/%d/fd" % pid
        try:
            fds = os.listdir(fd_dir)
        except OSError:
            continue
        for fd in fds:
            try:
                target = os.readlink(os.path.join(fd_dir, fd))
            except OSError:
                continue
            if target in paths or target.removesuffix(" (deleted)") in paths:
                held.setdefault(pid, []).append(target)
    return held


class Rig:
    def __init__(self, session, prefix, display, devices, locked, program, driver):
        self.session = session
        self.prefix = prefix
        self.display = display
        self.devices = devices  # {port number: FakeDevice}
        self.locked = locked
        self.program = program
        self.driver = driver

    def tty_paths(self):
        locked = [self.locked.path] if self.locked else []
        return [d.path for d in self.devices.values()] + locked

    def port_items(self):
        """The port list the program must show: COM<n> per registered port, registry order."""
        return [data for _, data in self.prefix.serialcomm()]

    def held(self, pid=None):
        """{pid: [tty]} of the rig's ttys held by the program (`pid`) or any process of the
        prefix, the wineserver included (it keeps its own descriptor of every open port)."""
        pids = self.prefix.processes()
        if pid is not None:
            pids = [p for p in pids if p == pid]
        return open_ttys(pids, self.tty_paths())

    def reset_devices(self):
        for device in self.devices.values():
            device.unblock()
            device.clear()


class DriverEnded(AssertionError):
    pass


class Dialog:
    """One run of brand.exe with a driver attached; :meth:`stop` ends whatever still runs."""

    def __init__(self, rig, args=(), lang=winenv.LANG_WESTERN):
        self.rig = rig
        rig.reset_devices()
        # Nothing of an earlier run may still hold a port.
        assert rig.held() == {}
        self.proc = rig.prefix.spawn(
            [rig.program] + list(args),
            lang=lang,
            display=rig.display,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        self.started = self.proc.started
        self.driver = rig.prefix.spawn(
            [rig.driver, "serve"],
            lang=lang,
            display=rig.display,
            stdin=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
        )
        self.answered = False  # whether the driver has been seen to run

    def attach(self, timeout_ms=15000):
        """Waits for the window; returns the seconds from the program's start.

        Until the window is there, neither process has been seen to do anything: one that Wine
        failed to make is made again here (winenv.WinePrefix.start_again), which is why the wait
        goes in short steps that look at the program in between."""
        deadline = time.monotonic() + timeout_ms / 1000.0
        while True:
            try:
                waited = self.cmd("wait:%d" % ATTACH_STEP_MS)
            except DriverEnded:
                if self.answered:
                    raise
                self.driver.wait(timeout=5)
                again = self.rig.prefix.start_again(self.driver)
                if not again:
                    raise
                self.driver = again
                continue
            if "error" not in waited:
                return time.monotonic() - self.started
            if self.proc.poll() is not None:
                again = self.rig.prefix.start_again(self.proc)
                assert again, "the program ended with code %d before its window appeared: %r" % (
                    self.proc.returncode, self.proc.finished())
                self.proc = again
                self.started = self.proc.started
            assert time.monotonic() < deadline, "the Brand window did not appear: %r" % waited

    @property
    def pid(self):
        """The program's Linux pid (wine64 execs the program in place)."""
        return self.proc.pid

    def cmd(self, command):
        """Runs one driver command; returns its key=value lines as a dict."""
        try:
            self.driver.stdin.write((command + "\n").encode("utf-8"))
            self.driver.stdin.flush()
        except BrokenPipeError:
            raise DriverEnded("driver ended before %r" % command) from None
        result = {}
        while True:
            line = self.driver.stdout.readline()
            if not line:
                raise DriverEnded("driver ended during %r: %r" % (command, result))
            self.answered = True
            key, _, value = line.decode("utf-8").rstrip("\n").partition("=")
            if key == "end":
                return result
            result[key] = value

    def state(self):
        return self.cmd("state")

    def choose(self, index):
        return self.cmd("choose:%d" % index)

    def click(self, control_id):
        result = self.cmd("click:%d" % control_id)
        assert "error" not in result, result
        return float(result["ms"])

    def held(self):
        return self.rig.held()

    def wait_exit(self, timeout):
        """How the program ended, (exit code, what it printed), or None while it still runs
        after `timeout` seconds; see EXITED."""
        try:
            self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        ended = self.proc.finished()
        return ended.returncode, ended.stdout + ended.stderr

    def stop(self):
        if self.driver.poll() is None:
            try:
                self.driver.stdin.write(b"quit\n")
                self.driver.stdin.close()
            except OSError:
                pass
            try:
                self.driver.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.driver.kill()
                self.driver.wait()
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        # A killed program's port is closed by the server soon after; wait for that so the
        # next run starts clean.
        deadline = time.monotonic() + 5
        while self.rig.held() and time.monotonic() < deadline:
            time.sleep(0.05)


@contextlib.contextmanager
def started_dialogs(rig):
    """Gives a function that starts dialogs on `rig` (``start(args=(), lang=...)``) and ends
    every dialog it started when the block is left."""
    started = []

    def start(args=(), lang=winenv.LANG_WESTERN):
        dialog = Dialog(rig, args, lang)
        started.append(dialog)
        dialog.startup_seconds = dialog.attach()
        return dialog

    try:
        yield start
    finally:
        for dialog in started:
            dialog.stop()
