"""The parts every benchmark here is made of: timed Wine processes at raised priority, programs
that answer one command a line, the fake device with a stopwatch, and rounds whose ratios cancel
the machine's own drift."""

import os
import pathlib
import random
import statistics
import subprocess
import threading
import time

import winenv

# The brand frame every program timed here sends: "BR", the built-in brand, ";" and zero filler.
FRAME = b"BRVANDREL8;" + b"\0" * 5

# Other work on the machine (builds, test runs) shows up as noise in millisecond timings: every
# process the benchmark times runs at this raised priority. Only root may raise it.
NICE = -10


def raise_priority(pid=0):
    """Raises every thread of process `pid` (0: this one) to NICE, when we are root."""
    if os.geteuid() != 0:
        return
    tasks = [pid] if pid == 0 else [int(t) for t in os.listdir("/proc/%d/task" % pid)]
    for task in tasks:
        try:
            os.setpriority(os.PRIO_PROCESS, task, NICE)
        except OSError:
            pass  # a thread that has just ended


def now_ns():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW)


class BenchError(RuntimeError):
    pass


# Wine 8's loader on this machine now and then fails to start a process at all, about once in
# 3000 starts, with this error (the address it needs is taken) and exit code 1. It is the same
# for every program, so such a start is not the program's; its round is run again.
WINE_START_FAILURE = "failed to map the shared user data"
# What timed processes print: nothing but errors of Wine's memory set-up, which say the above.
TIMED_WINEDEBUG = "-all,err+virtual"
# Rounds run again after such failures, at the most, before the run gives up.
MAX_REPEATED_ROUNDS = 10


class StartFailed(BenchError):
    """Wine could not make the process (WINE_START_FAILURE)."""


class LineProcess:
    """A child that takes one command a line and answers key=value lines closed by "end"."""

    def __init__(self, proc, name):
        self.proc = proc
        self.name = name

    def write(self, line):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()

    def readline(self):
        line = self.proc.stdout.readline()
        if not line:
            raise BenchError("%s ended unexpectedly" % self.name)
        return line.decode("utf-8", "replace").rstrip("\r\n")

    def answer(self):
        values = {}
        while True:
            line = self.readline()
            if line == "end":
                break
            key, _, value = line.partition("=")
            values[key] = value
        if "error" in values:
            raise BenchError("%s: %s" % (self.name, values["error"]))
        return values

    def command(self, line):
        self.write(line)
        return self.answer()

    def stop(self, timeout=10):
        try:
            self.write("quit")
        except OSError:
            pass
        try:
            self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class ClockDevice:
    """bench/device_clock.py as a child running as the test user, with `lines` ptys; collects
    stamped chunks per pty. :attr:`paths` are the ptys in order, :attr:`path` the first."""

    def __init__(self, script, lines=1):
        self.proc = subprocess.Popen(
            winenv.as_user(["/usr/bin/python3", str(script), str(lines)]),
            preexec_fn=raise_priority,
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            text=True,
            bufsize=1,
            cwd="/",
        )
        self.paths = []
        self._cond = threading.Condition()
        self._chunks = [[] for _ in range(lines)]  # per pty: (ns, bytes)
        self._acks = []
        self._ready = False
        self._eof = False
        threading.Thread(target=self._read, daemon=True).start()
        with self._cond:
            self._cond.wait_for(lambda: self._ready or self._eof, 10)
        if len(self.paths) != lines:
            self.stop()
            raise BenchError("the clock device did not start")
        for path in self.paths:
            winenv.assert_safe_tty_path(path)
        self.path = self.paths[0]

    def _read(self):
        for line in self.proc.stdout:
            line = line.rstrip("\n")
            with self._cond:
                if line.startswith("RX "):
                    _, line_index, stamp, data = line.split(" ", 3)
                    self._chunks[int(line_index)].append((int(stamp), bytes.fromhex(data)))
                elif line.startswith("PTY "):
                    self.paths.append(line[4:])
                elif line == "READY":
                    self._ready = True
                else:
                    self._acks.append(line)
                self._cond.notify_all()
        with self._cond:
            self._eof = True
            self._cond.notify_all()

    def command(self, command):
        with self._cond:
            before = len(self._acks)
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        with self._cond:
            if not self._cond.wait_for(lambda: len(self._acks) > before, 5):
                raise BenchError("the clock device did not answer " + command)
            if self._acks[before] != "OK " + command:
                raise BenchError("the clock device: %s -> %s" % (command, self._acks[before]))

    def clear(self):
        with self._cond:
            for chunks in self._chunks:
                chunks.clear()

    def received(self, line=0):
        with self._cond:
            return b"".join(data for _, data in self._chunks[line])

    def wait_bytes(self, count, timeout=5.0, line=0):
        """Waits for `count` bytes on pty `line`; returns (stamp of the chunk that completed
        them, bytes)."""
        chunks = self._chunks[line]
        with self._cond:
            self._cond.wait_for(
                lambda: sum(len(d) for _, d in chunks) >= count or self._eof, timeout
            )
            total = 0
            for stamp, data in chunks:
                total += len(data)
                if total >= count:
                    return stamp, b"".join(d for _, d in chunks)
            raise BenchError(
                "the device %s got %d of %d bytes: %s"
                % (self.paths[line], total, count, b"".join(d for _, d in chunks).hex())
            )

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write("quit\n")
                self.proc.stdin.flush()
                self.proc.wait(timeout=3)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()


def wait_ended(proc, name, timeout=30):
    """Waits for `proc` to end; returns the moment it was seen to (now_ns). Popen.wait with a
    timeout polls with sleeps growing to 50 ms, which rounds a process's end up to the next
    poll (0.5 + 1 + ... + 16 ms after the spawn, then 32 ms later, then every 50 ms) and would
    time that rounding; a blocking wait sees the end at once, and a timer ends a process that
    hangs."""
    hung = threading.Event()

    def end():
        hung.set()
        proc.kill()

    timer = threading.Timer(timeout, end)
    timer.start()
    try:
        proc.wait()
    finally:
        timer.cancel()
    ended = now_ns()
    if hung.is_set():
        raise BenchError("%s did not end within %d s" % (name, timeout))
    return ended


def check_started(proc, exe):
    """Raises when `proc` has ended unsuccessfully (after a wait of a few seconds for it):
    StartFailed when Wine could not make it, BenchError otherwise. Closes its standard error
    once it has ended."""
    try:
        code = proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        return
    said = proc.stderr.read().decode("utf-8", "replace").strip()
    proc.stderr.close()
    name = pathlib.Path(str(exe)).name
    if code != 0 and WINE_START_FAILURE in said:
        raise StartFailed("%s: %s" % (name, said))
    if code != 0:
        raise BenchError("%s exited with %d: %s" % (name, code, said))


def rotate(measures, reps, warmup, repeated=None):
    """Runs every measure of `measures` (name: function returning ms) warmup + reps times, in a
    new order each round, so that drift, other load and what ran just before hit all alike;
    returns name: the reps values after the warm-ups. The order is seeded: two runs make the
    same sequence. A round in which Wine failed to start a process is run again, and its
    error appended to the list `repeated`."""
    names = list(measures)
    order = random.Random(len(names))
    results = {name: [] for name in names}
    repeated = [] if repeated is None else repeated
    i = 0
    while i < warmup + reps:
        order.shuffle(names)
        try:
            values = {name: measures[name]() for name in names}
        except StartFailed as error:
            repeated.append(str(error))
            if len(repeated) > MAX_REPEATED_ROUNDS:
                raise
            continue
        if i >= warmup:
            for name in names:
                results[name].append(values[name])
        i += 1
    return results


def paired_ratio(program, baseline):
    """How much longer the program takes than its baseline: the median of the ratios of the
    times measured in the same round (rotate() keeps the lists aligned by round). A round's
    measurements lie within a second of each other, so a slowdown of the whole machine, which
    on a shared virtual machine comes and goes by tens of percent within minutes, cancels out of
    each ratio instead of spreading the two medians apart."""
    return median([p / b for p, b in zip(program, baseline, strict=True)])


def median(values):
    return statistics.median(values)


def spread(values):
    """10th and 90th percentile."""
    if len(values) < 2:
        return values[0], values[0]
    q = statistics.quantiles(values, n=10)
    return q[0], q[-1]
