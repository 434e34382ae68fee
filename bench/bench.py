#!/usr/bin/python3
"""Benchmarks of the real program under Wine against bare baselines, side by side in one run.

Run by bench/run.sh, which builds the programs first:

    bench.py BRAND_EXE BENCH_DIR [--reps N] [--blocked-reps N] [--out docs/benchmarks.md]

Three measurements, each on one wineserver, one display and one fake device:

* Set press to last byte: from the moment the driver sends BM_CLICK to the real program's Set
  button until the 16th byte of the brand frame is read at the device, against
  bench_bare_send.exe making the same Win32 calls with no window (timed from just before its
  CreateFileA). Presses alternate between the two so drift hits both alike.
* Start-up: from spawning ``wine64 PROGRAM`` on the Linux side until a polling driver sees the
  window visible with items in its port list, real program against bench_min_dialog.exe, with
  the server already running. Alternating again.
* Set press against a blocked device (line output suspended): how long the press keeps the
  window busy.

Timestamps from inside Wine use the performance counter, which Wine takes from
CLOCK_MONOTONIC_RAW; the run checks that before it trusts any number.
"""

import argparse
import datetime
import os
import pathlib
import platform
import statistics
import subprocess
import sys
import threading
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(ROOT / "tests" / "harness"))
import winenv  # noqa: E402

PORT = 5
SET_BRAND = 1003
PORT_LIST = 1000
TITLE = "Brand"
FRAME = b"BRVANDREL8;" + b"\0" * 5
STATUS_CLOSED = "端口关闭"
STATUS_OPENED = "端口%d打开" % PORT

# Goals: the program may cost at most this much more than its bare baseline.
GOAL_SEND_RATIO = 1.2
GOAL_START_RATIO = 1.2
GOAL_BLOCKED_MS = 1100.0


def now_ns():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW)


class BenchError(RuntimeError):
    pass


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
    """bench/device_clock.py as a child running as the test user; collects stamped chunks."""

    def __init__(self, script):
        self.proc = subprocess.Popen(
            winenv.as_user(["/usr/bin/python3", str(script)]),
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            text=True,
            bufsize=1,
            cwd="/",
        )
        self.path = None
        self._cond = threading.Condition()
        self._chunks = []  # (ns, bytes)
        self._acks = []
        self._ready = False
        self._eof = False
        threading.Thread(target=self._read, daemon=True).start()
        with self._cond:
            self._cond.wait_for(lambda: self._ready or self._eof, 10)
        if not self.path:
            self.stop()
            raise BenchError("the clock device did not start")
        winenv.assert_safe_tty_path(self.path)

    def _read(self):
        for line in self.proc.stdout:
            line = line.rstrip("\n")
            with self._cond:
                if line.startswith("RX "):
                    _, stamp, data = line.split(" ", 2)
                    self._chunks.append((int(stamp), bytes.fromhex(data)))
                elif line.startswith("PTY "):
                    self.path = line[4:]
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
            self._chunks.clear()

    def received(self):
        with self._cond:
            return b"".join(data for _, data in self._chunks)

    def wait_bytes(self, count, timeout=5.0):
        """Waits for `count` bytes; returns (stamp of the chunk that completed them, bytes)."""
        with self._cond:
            self._cond.wait_for(
                lambda: sum(len(d) for _, d in self._chunks) >= count or self._eof, timeout
            )
            total = 0
            for stamp, data in self._chunks:
                total += len(data)
                if total >= count:
                    return stamp, b"".join(d for _, d in self._chunks)
            raise BenchError(
                "the device got %d of %d bytes: %s"
                % (total, count, b"".join(d for _, d in self._chunks).hex())
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


class Bench:
    def __init__(self, args):
        self.args = args
        self.session = winenv.WineSession()
        self.display = winenv.Xvfb()
        self.prefix = self.with_display(self.session.new_prefix("bench"), self.display.display)
        # Copied to a folder the test user can read; device_clock.py imports fake_device.py.
        self.session.install(ROOT / "tools" / "fake_device.py")
        self.device = ClockDevice(self.session.install(HERE / "device_clock.py"))
        self.prefix.map_port(PORT, self.device.path)
        # Every program below is started directly (not through WinePrefix.spawn, which asks the
        # registry each time and would run a Wine process between the timed ones), so the
        # mapping is checked here, once.
        for mapped in self.prefix.mapped_ports().values():
            winenv.assert_safe_tty_path(mapped)
        bench_dir = pathlib.Path(args.bench_dir)
        self.brand, self.bare, self.min_dialog, self.driver_exe = self.session.install(
            args.brand,
            bench_dir / "bench_bare_send.exe",
            bench_dir / "bench_min_dialog.exe",
            bench_dir / "bench_driver.exe",
        )
        self.driver = LineProcess(self.spawn([self.driver_exe], stdin=subprocess.PIPE), "driver")

    @staticmethod
    def with_display(prefix, display):
        """Gives every Wine process of `prefix` the display, the harness's own helpers too:
        whichever process of a fresh server comes first starts Wine's desktop process, and one
        started without a display leaves every later window without a driver. The server
        restart of the port mapping below then brings the desktop up on the display."""
        plain_env = prefix.env

        def env(lang=winenv.LANG_WESTERN, display_=None, extra=None):
            return plain_env(lang, display_ or display, extra)

        prefix.env = env
        return prefix

    def spawn(self, argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE):
        argv = [str(a) for a in argv]
        return subprocess.Popen(
            winenv.as_user([winenv.WINE] + argv),
            env=self.prefix.env(),
            stdin=stdin,
            stdout=stdout,
            stderr=subprocess.DEVNULL,
            cwd=str(pathlib.Path(argv[0]).parent),
        )

    def close(self):
        for part in ("driver",):
            if hasattr(self, part):
                getattr(self, part).stop()
        self.display.stop()
        self.device.stop()
        self.session.close()

    # -- the clock ------------------------------------------------------------------------------

    def check_clock(self):
        """The driver's clock against ours: the smallest gap between its reading and our
        receipt of it is the pipe's latency, a fraction of a millisecond when both read the
        same clock, and a large or negative number when they do not."""
        gaps = []
        for _ in range(30):
            self.driver.write("clock")
            line = self.driver.readline()
            received = now_ns()
            self.driver.answer()
            if not line.startswith("now="):
                raise BenchError("driver clock: " + line)
            gaps.append(received - int(line[4:]))
        gap = min(gaps)
        if not 0 <= gap < 2_000_000:
            raise BenchError(
                "Wine's performance counter is not CLOCK_MONOTONIC_RAW here (gap %.3f ms)"
                % (gap / 1e6)
            )
        return gap / 1e6

    # -- start-up -------------------------------------------------------------------------------

    def start_once(self, exe):
        """Spawns `exe`, returns ms until the driver sees its window ready; leaves it running
        and returns the process too."""
        self.driver.write("watch:%s:%d:15000" % (TITLE, PORT_LIST))
        if self.driver.readline() != "armed":
            raise BenchError("the driver did not arm")
        spawned = now_ns()
        proc = self.spawn([exe], stdout=subprocess.DEVNULL)
        seen = int(self.driver.answer()["seen"])
        return (seen - spawned) / 1e6, proc

    def close_program(self, proc):
        if self.driver.command("close").get("closed") != "1":
            raise BenchError("the window did not close")
        try:
            proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise BenchError("the program did not end after its window closed")

    def bench_start(self, reps, warmup=3):
        times = {"brand": [], "min": []}
        exes = {"brand": self.brand, "min": self.min_dialog}
        for i in range(warmup + reps):
            order = ("brand", "min") if i % 2 == 0 else ("min", "brand")
            for name in order:
                ms, proc = self.start_once(exes[name])
                self.close_program(proc)
                if i >= warmup:
                    times[name].append(ms)
        return times

    # -- Set press ------------------------------------------------------------------------------

    def open_real(self):
        _, proc = self.start_once(self.brand)
        self.driver.command("choose:COM%d" % PORT)
        status = self.driver.command("status").get("status")
        if status != STATUS_OPENED:
            raise BenchError("after choosing COM%d the status is %r" % (PORT, status))
        return proc

    def press_real(self):
        self.device.clear()
        answer = self.driver.command("press:%d" % SET_BRAND)
        return int(answer["t0"]), int(answer["t1"])

    def press_bare(self, bare):
        self.device.clear()
        answer = bare.command("send")
        return int(answer["t0"]), int(answer["t1"])

    def frame_arrival(self):
        stamp, data = self.device.wait_bytes(len(FRAME))
        time.sleep(0.02)  # a second frame, or stray bytes, would show up by now
        data = self.device.received()
        if data != FRAME:
            raise BenchError("the device got %s, not the brand frame" % data.hex())
        return stamp

    def bench_send(self, reps, warmup=5):
        real = self.open_real()
        bare = LineProcess(self.spawn([self.bare, PORT], stdin=subprocess.PIPE), "bare send")
        results = {"brand": [], "bare": [], "brand_return": [], "bare_return": []}
        try:
            for i in range(warmup + reps):
                order = ("brand", "bare") if i % 2 == 0 else ("bare", "brand")
                for name in order:
                    t0, t1 = self.press_real() if name == "brand" else self.press_bare(bare)
                    arrival = self.frame_arrival()
                    if i >= warmup:
                        results[name].append((arrival - t0) / 1e6)
                        results[name + "_return"].append((t1 - t0) / 1e6)
            status = self.driver.command("status").get("status")
            if status != STATUS_CLOSED:
                raise BenchError("after the presses the status is %r" % status)
        finally:
            bare.stop()
            self.close_program(real)
        return results

    # -- blocked device -------------------------------------------------------------------------

    def bench_blocked(self, reps):
        real = self.open_real()
        bare = LineProcess(self.spawn([self.bare, PORT], stdin=subprocess.PIPE), "bare send")
        results = {"brand": [], "bare": [], "late_bytes": 0}
        try:
            for _ in range(reps):
                for name in ("brand", "bare"):
                    self.device.command("block")
                    t0, t1 = self.press_real() if name == "brand" else self.press_bare(bare)
                    self.device.command("unblock")
                    results[name].append((t1 - t0) / 1e6)
                    # A cancelled write must not go out once the line resumes.
                    time.sleep(0.1)
                    results["late_bytes"] += len(self.device.received())
        finally:
            bare.stop()
            self.close_program(real)
        return results


def median(values):
    return statistics.median(values)


def spread(values):
    """10th and 90th percentile."""
    if len(values) < 2:
        return values[0], values[0]
    q = statistics.quantiles(values, n=10)
    return q[0], q[-1]


def wine_version():
    out = subprocess.run([winenv.WINE, "--version"], capture_output=True, text=True)
    return out.stdout.strip() or "unknown"


def machine_note():
    cpu = "unknown CPU"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return "%s, %d cores, Linux %s, Xvfb" % (cpu, os.cpu_count() or 0, platform.release())


def report(clock_gap, start, send, blocked, reps, blocked_reps, elapsed):
    rows = []

    def row(what, program, baseline, goal_ratio=None, goal_ms=None):
        pm = median(program)
        lo, hi = spread(program)
        line = {
            "what": what,
            "program": "%.2f" % pm,
            "program_spread": "%.2f–%.2f" % (lo, hi),
            "baseline": "",
            "ratio": "",
            "goal": "",
            "verdict": "",
        }
        if baseline is not None:
            bm = median(baseline)
            blo, bhi = spread(baseline)
            line["baseline"] = "%.2f" % bm
            line["baseline_spread"] = "%.2f–%.2f" % (blo, bhi)
            ratio = pm / bm
            line["ratio"] = "%.2f" % ratio
        if goal_ratio is not None:
            line["goal"] = "ratio < %.1f" % goal_ratio
            line["verdict"] = "met" if ratio < goal_ratio else "MISSED"
        if goal_ms is not None:
            worst = max(program)
            line["goal"] = "every press ≤ %d ms" % goal_ms
            line["verdict"] = "met" if worst <= goal_ms else "MISSED"
            line["program_spread"] = "max %.2f" % worst
        rows.append(line)

    row("Set press → last byte at device", send["brand"], send["bare"], goal_ratio=GOAL_SEND_RATIO)
    row("Set press → press returns", send["brand_return"], send["bare_return"])
    row("start → window visible, lists filled", start["brand"], start["min"],
        goal_ratio=GOAL_START_RATIO)
    row("Set press, blocked device → returns", blocked["brand"], blocked["bare"],
        goal_ms=GOAL_BLOCKED_MS)

    table = [
        "| measurement (median ms) | program | p10–p90 | baseline | p10–p90 | ratio | goal | |",
        "|---|---:|---|---:|---|---:|---|---|",
    ]
    for r in rows:
        table.append(
            "| %s | %s | %s | %s | %s | %s | %s | %s |"
            % (
                r["what"],
                r["program"],
                r["program_spread"],
                r["baseline"],
                r.get("baseline_spread", ""),
                r["ratio"],
                r["goal"],
                r["verdict"],
            )
        )
    notes = [
        "- Baselines: `bench_bare_send.exe` (the Win32 calls of one Set press, no window) for the "
        "presses, `bench_min_dialog.exe` (a plain dialog with the same controls and font, lists "
        "filled the same way) for the start-up.",
        "- Repetitions: %d presses and %d starts of each program (after warm-ups), %d blocked "
        "presses of each; presses and starts alternate between program and baseline."
        % (reps, reps, blocked_reps),
        "- Press timings start when the driver sends BM_CLICK (program) or just before "
        "CreateFileA (baseline) and end when the fake device reads the frame's 16th byte; "
        "start-up timings start at the Linux spawn of `wine64` with the wineserver running.",
        "- Wine's performance counter matched CLOCK_MONOTONIC_RAW (pipe gap %.3f ms)."
        % clock_gap,
        "- Bytes seen at the device after blocked presses were released: %d (a cancelled write "
        "must send nothing)." % blocked["late_bytes"],
        "- Whole run: %.0f s." % elapsed,
    ]
    return table, notes, rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("brand", help="the program's x86_64 brand.exe")
    parser.add_argument("bench_dir", help="folder with the bench_*.exe programs")
    parser.add_argument("--reps", type=int, default=60)
    parser.add_argument("--blocked-reps", type=int, default=5)
    parser.add_argument("--out", help="markdown file to write the results to")
    args = parser.parse_args()

    started = time.monotonic()
    bench = Bench(args)
    try:
        clock_gap = bench.check_clock()
        print("== clock check: performance counter = CLOCK_MONOTONIC_RAW (gap %.3f ms)" % clock_gap)
        print("== Set press, %d repetitions each" % args.reps, flush=True)
        send = bench.bench_send(args.reps)
        print("== start-up, %d repetitions each" % args.reps, flush=True)
        start = bench.bench_start(args.reps)
        print("== blocked device, %d presses each" % args.blocked_reps, flush=True)
        blocked = bench.bench_blocked(args.blocked_reps)
    finally:
        bench.close()
    elapsed = time.monotonic() - started

    table, notes, rows = report(
        clock_gap, start, send, blocked, args.reps, args.blocked_reps, elapsed
    )
    print()
    print("\n".join(table))
    print()
    print("\n".join(notes))

    if args.out:
        today = datetime.date.today().isoformat()
        text = [
            "# Benchmarks",
            "",
            "The program under Wine against bare baselines, measured side by side in one run of "
            "`bash bench/run.sh` (which rewrites this file). Times are medians in milliseconds.",
            "",
            "- Date: %s" % today,
            "- Machine: %s" % machine_note(),
            "- Wine: %s (x86_64 build of the program)" % wine_version(),
            "",
        ] + table + [""] + notes + [""]
        pathlib.Path(args.out).write_text("\n".join(text), encoding="utf-8")
        print("\n== written to %s" % args.out)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (BenchError, winenv.HarnessError) as error:
        print("benchmark failed: %s" % error, file=sys.stderr)
        sys.exit(1)
