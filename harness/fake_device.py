#!/usr/bin/python3
"""A stand-in for the device on the serial line.

Run as a program, it creates a pseudo-terminal pair, prints the slave's path (the tty to map as a
COM port) and then one line for every frame it receives, decoded::

    $ harness/fake_device.py
    PTY /dev/pts/7
    READY
    FRAME BR payload='VANDREL8' filler=00 00 00 00 00 hex=42 52 56 41 ...
    FRAME DT payload='V3' hex=44 54 56 33 3b

Bytes that do not form a known frame are printed as ``UNKNOWN hex=...``. With ``--control`` it
also echoes every chunk it reads as ``RX <hex>`` and takes commands on standard input, one a
line: ``block`` (suspend the line, so a writer's bytes stay pending), ``unblock``, ``close``
(the device goes away: the master side is closed) and ``quit``; each is answered ``OK <command>``.

Imported, :class:`FakeDevice` runs that program as a child (as the unprivileged test user when
started by root, since a pty belongs to its creator) and collects the exact bytes received.

The device never writes to the line: the program under test never reads.
"""

import argparse
import binascii
import os
import select
import subprocess
import sys
import termios
import threading
import time
import tty

BRAND_TAG = b"BR"
CODE_TAG = b"DT"
BRAND_FRAME_SIZE = 16
CODE_FRAME_SIZE = 5
# A partial frame left unfinished this long is reported as unknown bytes rather than held on to.
PARTIAL_FRAME_TIMEOUT = 0.5


def hexdump(data):
    return " ".join("%02x" % b for b in data)


def _text(data):
    """Payload bytes for a human: ASCII shown as is, anything else as a \\x escape."""
    return repr(bytes(data).decode("latin-1")) if all(32 <= b < 127 for b in data) else repr(data)


class FrameDecoder:
    """Splits a byte stream into device frames.

    :meth:`feed` takes bytes as they arrive and returns the finished items, each a tuple
    ``(kind, raw, payload, filler)`` with kind ``"BR"``, ``"DT"`` or ``"UNKNOWN"``. A frame that
    has started but is not complete is held back until :meth:`flush`.
    """

    def __init__(self):
        self._pending = bytearray()

    def feed(self, data):
        self._pending += data
        items = []
        while self._pending:
            item = self._take_one()
            if item is None:
                break
            items.append(item)
        return items

    def flush(self):
        """Reports whatever is still held as unknown bytes."""
        if not self._pending:
            return []
        raw = bytes(self._pending)
        self._pending.clear()
        return [("UNKNOWN", raw, b"", b"")]

    def _take_one(self):
        buf = self._pending
        if buf[:2] == BRAND_TAG or buf == BRAND_TAG[:1]:
            if len(buf) < BRAND_FRAME_SIZE:
                return None
            end = buf.find(b";", 2, BRAND_FRAME_SIZE)
            if end >= 0:
                raw = bytes(buf[:BRAND_FRAME_SIZE])
                del buf[:BRAND_FRAME_SIZE]
                return ("BR", raw, raw[2:end], raw[end + 1 :])
        elif buf[:2] == CODE_TAG or buf == CODE_TAG[:1]:
            if len(buf) < CODE_FRAME_SIZE:
                return None
            if buf[4:5] == b";":
                raw = bytes(buf[:CODE_FRAME_SIZE])
                del buf[:CODE_FRAME_SIZE]
                return ("DT", raw, raw[2:4], b"")
        # Not a frame here: report bytes up to where the next frame could start.
        cut = 1
        while cut < len(buf) and buf[cut : cut + 1] not in (b"B", b"D"):
            cut += 1
        raw = bytes(buf[:cut])
        del buf[:cut]
        return ("UNKNOWN", raw, b"", b"")


def describe(item):
    kind, raw, payload, filler = item
    if kind == "BR":
        return "FRAME BR payload=%s filler=%s hex=%s" % (_text(payload), hexdump(filler), hexdump(raw))
    if kind == "DT":
        return "FRAME DT payload=%s hex=%s" % (_text(payload), hexdump(raw))
    return "UNKNOWN hex=%s" % hexdump(raw)


def open_pty():
    """Creates a raw pty pair; returns ``(master_fd, slave_fd, slave_path)``.

    Raw mode is set with TCSANOW: the default TCSAFLUSH could drop bytes that arrive early.
    Both directions are flushed afterwards, so nothing stale is read as a frame.
    """
    master, slave = os.openpty()
    tty.setraw(slave, termios.TCSANOW)
    termios.tcflush(slave, termios.TCIOFLUSH)
    termios.tcflush(master, termios.TCIOFLUSH)
    return master, slave, os.ttyname(slave)


def serve(control, out=sys.stdout):
    """The device program: prints the pty path, then frames until killed or told to quit."""
    master, slave, path = open_pty()

    def emit(line):
        out.write(line + "\n")
        out.flush()

    emit("PTY " + path)
    emit("READY")
    decoder = FrameDecoder()
    last_data = time.monotonic()
    watch_stdin = control
    while True:
        fds = [master] if master is not None else []
        if watch_stdin:
            fds.append(sys.stdin.fileno())
        timeout = PARTIAL_FRAME_TIMEOUT if master is not None else None
        if not fds:
            return 0
        ready, _, _ = select.select(fds, [], [], timeout)
        if master is not None and master in ready:
            try:
                data = os.read(master, 4096)
            except OSError:
                data = b""
            if data:
                last_data = time.monotonic()
                if control:
                    emit("RX " + data.hex())
                for item in decoder.feed(data):
                    emit(describe(item))
        elif time.monotonic() - last_data >= PARTIAL_FRAME_TIMEOUT:
            for item in decoder.flush():
                emit(describe(item))
        if watch_stdin and sys.stdin.fileno() in ready:
            command = sys.stdin.readline()
            if not command:
                watch_stdin = False  # the controller went away; keep serving until killed
                continue
            command = command.strip()
            # The slave side's output is what a writer fills: suspending it there (not on the
            # master) makes the program's write stay pending, as a device holding CTS low would.
            if command == "block":
                termios.tcflow(slave, termios.TCOOFF)
            elif command == "unblock":
                termios.tcflow(slave, termios.TCOON)
            elif command == "close":
                for item in decoder.flush():
                    emit(describe(item))
                if master is not None:
                    os.close(master)
                    master = None
            elif command == "quit":
                emit("OK quit")
                return 0
            else:
                emit("ERROR unknown command " + command)
                continue
            emit("OK " + command)


class FakeDevice:
    """The fake device as a child process, for tests.

    ``FakeDevice(user="brandtest")`` starts ``fake_device.py --control``; when the caller is root
    it runs as `user`, so that the pty belongs to the same user as the Wine programs that open
    it. :attr:`path` is the tty to map as a COM port. Use it as a context manager, or call
    :meth:`stop`.
    """

    def __init__(self, user="brandtest", python="/usr/bin/python3", start_timeout=10.0):
        # The source goes on the command line: the test user may not be able to read the
        # folder this file lives in (a clone in root's home, say).
        with open(os.path.abspath(__file__)) as f:
            command = [python, "-c", f.read(), "--control"]
        if os.geteuid() == 0 and user:
            command = ["setpriv", "--reuid=" + user, "--regid=" + user, "--init-groups"] + command
        self._proc = subprocess.Popen(
            command,
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            text=True,
            bufsize=1,
            # Run from / so a test user who cannot read the caller's folder can still start.
            cwd="/",
        )
        self._cond = threading.Condition()
        self._rx = bytearray()
        self._lines = []
        self._acks = []
        self.path = None
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        with self._cond:
            if not self._cond.wait_for(lambda: self._ready or self._eof, start_timeout):
                self.stop()
                raise RuntimeError("fake device did not start")
        if not self.path:
            self.stop()
            raise RuntimeError("fake device failed: %r" % self._lines)

    _ready = False
    _eof = False
    _stopping = False

    def _check_running(self):
        # Called with the lock held. A device that died has received nothing more, and that
        # must not read as "nothing arrived".
        if self._eof and not self._stopping:
            raise RuntimeError("fake device %s ended (exit %s): %r" % (
                self.path, self._proc.poll(), self._lines[-3:]))

    def _read(self):
        for line in self._proc.stdout:
            line = line.rstrip("\n")
            with self._cond:
                if line.startswith("RX "):
                    self._rx += binascii.unhexlify(line[3:])
                elif line.startswith("PTY "):
                    self.path = line[4:]
                elif line == "READY":
                    self._ready = True
                elif line.startswith("OK ") or line.startswith("ERROR "):
                    self._acks.append(line)
                else:
                    self._lines.append(line)
                self._cond.notify_all()
        with self._cond:
            self._eof = True
            self._cond.notify_all()

    def _command(self, command, timeout=5.0):
        with self._cond:
            before = len(self._acks)
        self._proc.stdin.write(command + "\n")
        self._proc.stdin.flush()
        with self._cond:
            if not self._cond.wait_for(lambda: len(self._acks) > before or self._eof, timeout):
                raise RuntimeError("fake device did not answer " + command)
            reply = self._acks[before] if len(self._acks) > before else "EOF"
        if reply != "OK " + command:
            raise RuntimeError("fake device: %s -> %s" % (command, reply))

    def received(self):
        """Every byte received so far; RuntimeError once the device has ended by itself."""
        with self._cond:
            self._check_running()
            return bytes(self._rx)

    def frames(self):
        """The decoded lines (``FRAME ...``/``UNKNOWN ...``) printed so far."""
        with self._cond:
            self._check_running()
            return list(self._lines)

    def clear(self):
        """Forgets what was received so far."""
        with self._cond:
            self._rx.clear()
            self._lines.clear()

    def wait_for(self, count, timeout=10.0, settle=0.5):
        """Waits until at least `count` bytes have arrived (or `timeout` passes), then keeps
        reading for `settle` seconds more, so a frame sent twice shows up, and returns all
        bytes received."""
        with self._cond:
            self._cond.wait_for(lambda: len(self._rx) >= count or self._eof, timeout)
        time.sleep(settle)
        return self.received()

    def block(self):
        """Suspends the line: a program's write to the port stays pending."""
        self._command("block")

    def unblock(self):
        """Resumes the line; bytes held back arrive."""
        self._command("unblock")

    def stty(self, *settings):
        """Runs stty on the pty with `settings` ("9600", "cstopb"; "-a" to read them all) and
        returns what it printed. A pty shows speed, stop bits and flow control faithfully; it is
        always 8 data bits without parity."""
        return subprocess.run(["stty", "-F", self.path] + list(settings), capture_output=True,
                              text=True, check=True).stdout

    def close_far_end(self):
        """The device goes away: the pty's master side is closed."""
        self._command("close")

    def stop(self):
        self._stopping = True
        if self._proc.poll() is None:
            try:
                self._proc.stdin.write("quit\n")
                self._proc.stdin.flush()
                self._proc.wait(timeout=3)
            except (OSError, subprocess.TimeoutExpired):
                self._proc.kill()
                self._proc.wait()
        self._reader.join(timeout=3)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0], prog="fake_device.py")
    parser.add_argument(
        "--control", action="store_true", help="echo raw chunks and take commands on stdin"
    )
    args = parser.parse_args()
    try:
        return serve(args.control)
    except KeyboardInterrupt:
        return 0


if __name__ == "__main__":
    sys.exit(main())
