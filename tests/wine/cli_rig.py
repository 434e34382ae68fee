"""One set of brandcli cases, two systems: the shipped 32-bit Windows build (out of the release
zip) under Wine's WoW64, with COM ports leading to ptys, and the native Linux build, with pty
paths. A station here is what a case needs of either:
ports for fake devices, ports that appear and go away while `watch` runs, and brandcli itself.

    station.attach(device)              a port name that reaches `device` ("COM20", "/dev/pts/7")
    station.appear(tag, device)         a new port, as the system lists it, named by `tag`
                                        (Windows: SERIALCOMM value "\\Device\\<tag>"; Linux: an
                                        entry <tag> of the watched folder); returns its port name
    station.vanish(tag)                 it goes away again
    station.watch_args                  what `watch` needs to see those ports (Linux: --in DIR)

Everything runs as the unprivileged test user (harness/winenv.py, harness/linuxenv.py).
"""

import datetime
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "harness"))

import linuxenv  # noqa: E402
import shipped  # noqa: E402
import winenv  # noqa: E402

# The ports attached for sends, out of the way of the other rigs' (Wine's own COM1 included).
FIRST_ATTACHED = 20


class WineStation:
    kind = "wine"
    watch_args = []

    def __init__(self):
        session = winenv.shared_session()
        self.cli = shipped.program(session, "brandcli.exe")
        self.prefix = session.new_wow64_prefix("cli-cases")
        self._next = FIRST_ATTACHED
        self._tags = {}

    def attach(self, device):
        number = self._next
        self._next += 1
        self.prefix.link_port(number, device.path)
        return "COM%d" % number

    def appear(self, tag, device, ready_after=0.0):
        """Registered at once; with `ready_after`, the port leads to the device only that many
        seconds later, as a driver may register a port before it can be opened."""
        number = self._tags.get(tag) or self._next
        self._next += number == self._next
        self._tags[tag] = number
        if not ready_after:
            self.prefix.link_port(number, device.path)
        self.prefix.register_port(number, "\\Device\\" + tag)
        if ready_after:
            time.sleep(ready_after)
            self.prefix.link_port(number, device.path)
        return "COM%d" % number

    def vanish(self, tag):
        self.prefix.unregister_port(self._tags[tag], "\\Device\\" + tag)
        self.prefix.unlink_port(self._tags[tag])

    def run(self, args, stdout=None):
        if stdout is None:
            return self.prefix.run([self.cli] + list(args))
        proc = self.prefix.spawn([self.cli] + list(args), stdout=stdout)
        _, err = proc.communicate(timeout=60)
        return subprocess.CompletedProcess(args, proc.returncode, "", err.decode())

    def spawn(self, args):
        return Started(self.prefix.spawn([self.cli] + list(args)), self.prefix.processes)

    def close(self):
        self.prefix.close()


class LinuxStation:
    kind = "linux"

    def __init__(self):
        self.cli = linuxenv.LinuxCli("x86_64")
        self.folder = winenv.user_dir("brand-cli-cases-")
        self.watch_args = ["--in", str(self.folder)]

    def attach(self, device):
        return device.path

    def appear(self, tag, device, ready_after=0.0):
        """With `ready_after`, the device refuses the test user that many seconds first, as a
        node may appear before udev has given it its permissions."""
        entry = self.folder / tag
        if ready_after:
            os.chmod(device.path, 0)
        entry.symlink_to(device.path)
        if ready_after:
            time.sleep(ready_after)
            os.chmod(device.path, 0o600)
        return str(entry)

    def vanish(self, tag):
        (self.folder / tag).unlink()

    def run(self, args, stdout=None):
        if stdout is None:
            return self.cli.run(args)
        proc = self.cli.spawn(args, stdout=stdout)
        _, err = proc.communicate(timeout=60)
        return subprocess.CompletedProcess(args, proc.returncode, "", err)

    def spawn(self, args):
        proc = self.cli.spawn(args)
        return Started(proc, lambda: [proc.pid])

    def close(self):
        self.cli.close()
        shutil.rmtree(self.folder, ignore_errors=True)


class Started:
    """A brandcli that runs until it ends by itself or is interrupted."""

    def __init__(self, proc, pids):
        self.proc = proc
        self._pids = pids

    def holds(self, path, timeout=5.0):
        """Waits until a process of this run has `path` open; False when none has in time."""
        target = os.path.realpath(path)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for pid in self._pids():
                try:
                    fds = os.listdir("/proc/%d/fd" % pid)
                except OSError:
                    continue
                for fd in fds:
                    try:
                        if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == target:
                            return True
                    except OSError:
                        pass
            time.sleep(0.01)
        return False

    def interrupt(self):
        # setpriv hands its pid on by exec, so this is the program's own (Wine's loader, which
        # turns it into a Ctrl+C).
        self.proc.send_signal(signal.SIGINT)

    def finish(self, timeout=15):
        """(exit code, stdout, stderr) as text, once it has ended."""
        out, err = self.proc.communicate(timeout=timeout)
        text = [s.decode() if isinstance(s, bytes) else s for s in (out, err)]
        return self.proc.returncode, text[0], text[1]


def record_time(record):
    """A record's time as seconds since 1970, checking its form on the way."""
    when = datetime.datetime.strptime(record["time"], "%Y-%m-%dT%H:%M:%S.%fZ")
    assert len(record["time"]) == 24, record["time"]
    return when.replace(tzinfo=datetime.timezone.utc).timestamp()
