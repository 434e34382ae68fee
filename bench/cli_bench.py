"""brandcli on a production line, timed under Wine: one call to many ports against one port, one
call to ports whose devices do not take the frame against one such port, and `watch` from a
port's registration to its frame at the device.

Run by bench.py (``--cli``, or ``--only cli`` for these alone) on its wineserver, with a clock
device of its own that serves a pty for every port used here. The ports are links in the
prefix's dosdevices folder (WinePrefix.link_port), made while the server runs, so they are not
registered: the dialog's port list in the other measurements stays as it was.
"""

import datetime
import json
import pathlib
import queue
import subprocess
import threading
import time

from rig import (
    FRAME,
    WINE_START_FAILURE,
    BenchError,
    ClockDevice,
    LineProcess,
    StartFailed,
    median,
    now_ns,
    paired_ratio,
    rotate,
    spread,
    wait_ended,
)

MANY_PORTS = list(range(6, 22))  # COM6 to COM21, devices that take the frame
BLOCKED_PORTS = list(range(22, 26))  # COM22 to COM25, devices whose line is suspended
# Registered in turn: the watch's read after one port's registration comes after the other's
# removal, so each port is new again when it comes back, however late the watch saw it go.
WATCH_PORTS = (26, 27)

GOAL_MANY_RATIO = 1.5
GOAL_BLOCKED_RATIO = 1.1

NOT_WRITTEN = "the frame was not written whole"
TOOK = "took the brand frame"
WAITING = "waiting for new serial ports"

# docs/benchmarks.md: this section is written by a run of these measurements, alone or with the
# rest, and sits between the main table's notes and the analysis.
SECTION_MARKER = "## brandcli: several ports and watch"


def ports_argv(ports):
    return ["COM%d" % number for number in ports]


class CliBench:
    """The measurements, on the processes of `bench` (a bench.Bench with brandcli)."""

    def __init__(self, bench, device_script, register_exe):
        self.bench = bench
        self.register_exe = bench.session.install(register_exe)
        ports = MANY_PORTS + BLOCKED_PORTS + list(WATCH_PORTS)
        self.device = ClockDevice(device_script, len(ports))
        self.line = {number: index for index, number in enumerate(ports)}
        for number in MANY_PORTS + BLOCKED_PORTS:
            bench.prefix.link_port(number, self.device.paths[self.line[number]])
        self.late_bytes = 0

    def close(self):
        for number in self.line:
            self.bench.prefix.unlink_port(number)
        self.device.stop()

    # -- several ports --------------------------------------------------------------------------

    def call(self, ports, code, said, bare=False):
        """Runs `brandcli brand PORTS...` (`bare`: the one-shot bare calls to each port in turn)
        and returns ms from its spawn until the process has ended, after checking its exit code
        and that every port has its line `said` on stderr (None: stderr stays empty)."""
        self.device.clear()
        if bare:
            argv = [self.bench.bare] + ports + ["--once"]
        else:
            argv = [self.bench.cli, "brand"] + ports_argv(ports)
        what = " ".join(str(arg) for arg in [pathlib.Path(argv[0]).name] + argv[1:])
        spawned = now_ns()
        proc = self.bench.spawn(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        ended = wait_ended(proc, what)
        err = proc.stderr.read().decode("utf-8", "replace")
        proc.stderr.close()
        if proc.returncode != code and WINE_START_FAILURE in err:
            raise StartFailed("%s: %s" % (what, err.strip()))
        if proc.returncode != code:
            raise BenchError("%s exited with %d, not %d: %s" % (what, proc.returncode, code, err))
        missing = [p for p in ports_argv(ports) if said and "%s: %s" % (p, said) not in err]
        if missing or (not said and err.strip()):
            raise BenchError("%s said %r" % (what, err))
        return (ended - spawned) / 1e6

    def arrival(self, number, timeout=5.0):
        """The stamp of the chunk that completed a frame's worth of bytes at COM<number>."""
        try:
            return self.device.wait_bytes(len(FRAME), timeout, self.line[number])[0]
        except BenchError as error:
            raise BenchError("COM%d: %s" % (number, error)) from None

    def check_frames(self, sent_to):
        """Every port in `sent_to` got the exact frame, once, and every other port nothing."""
        for number in sent_to:
            self.arrival(number)
        time.sleep(0.02)  # a second frame, or stray bytes, would show up by now
        for number, line in self.line.items():
            got = self.device.received(line)
            if got != (FRAME if number in sent_to else b""):
                raise BenchError("COM%d got %s" % (number, got.hex() or "nothing"))

    def taken(self, ports, bare=False):
        ms = self.call(ports, 0, None, bare)
        self.check_frames(ports)
        return ms

    def not_taken(self, ports):
        self.device.command("block")
        try:
            ms = self.call(ports, 6 if len(ports) > 1 else 5, NOT_WRITTEN)
        finally:
            self.device.command("unblock")
        # A cancelled write must not go out once the line resumes.
        time.sleep(0.1)
        self.late_bytes += sum(len(self.device.received(line)) for line in self.line.values())
        return ms

    def bench_ports(self, reps, blocked_reps):
        many = rotate(
            {
                "many": lambda: self.taken(MANY_PORTS),
                "one": lambda: self.taken(MANY_PORTS[:1]),
                "bare_many": lambda: self.taken(MANY_PORTS, bare=True),
                "bare_one": lambda: self.taken(MANY_PORTS[:1], bare=True),
            },
            reps,
            3,
            self.bench.repeated,
        )
        blocked = rotate(
            {
                "many": lambda: self.not_taken(BLOCKED_PORTS),
                "one": lambda: self.not_taken(BLOCKED_PORTS[:1]),
            },
            blocked_reps,
            1,
            self.bench.repeated,
        )
        return many, blocked

    # -- watch ----------------------------------------------------------------------------------

    def bench_watch(self, reps, warmup=2):
        """`brandcli watch brand` running while a port is registered and removed reps + warmup
        times: from just before the registering program's RegSetValueExA to the frame's last
        byte at the device. Returns those ms and the RegSetValueExA calls' own ms."""
        prefix = self.bench.prefix
        register = LineProcess(
            self.bench.spawn([self.register_exe], stdin=subprocess.PIPE), "register port"
        )
        count = warmup + reps
        watch = self.bench.spawn(
            [self.bench.cli, "watch", "brand", "--count", str(count), "--json"],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
        )
        records, said = queue.Queue(), queue.Queue()
        for stream, lines in ((watch.stdout, records), (watch.stderr, said)):
            threading.Thread(target=read_lines, args=(stream, lines), daemon=True).start()
        latency, calls, stderr = [], [], []
        try:
            stderr.append(next_line(said, 30, "the watch did not start"))
            if WAITING not in stderr[0]:
                raise BenchError("the watch said %r" % stderr[0])
            for i in range(count):
                number = WATCH_PORTS[i % 2]
                prefix.link_port(number, self.device.paths[self.line[number]])
                answer = register.command("add %d" % number)
                t0, t1 = int(answer["t0"]), int(answer["t1"])
                stamp = self.arrival(number, 10)
                check_record(next_line(records, 10, "no record for COM%d" % number), number)
                self.check_frames([number])
                stderr.append(next_line(said, 10, "no line for COM%d" % number))
                register.command("remove %d" % number)
                prefix.unlink_port(number)
                self.device.clear()
                if i >= warmup:
                    latency.append((stamp - t0) / 1e6)
                    calls.append((t1 - t0) / 1e6)
                # The watch has seen the removal by the next registration, as with a person
                # plugging in the next device, so that registration alone is timed.
                time.sleep(0.1)
            code = watch.wait(timeout=15)
        finally:
            register.stop()
            if watch.poll() is None:
                watch.kill()
                watch.wait()
        took = [line for line in stderr[1:] if line.endswith(TOOK)]
        if code != 0 or len(took) != count:
            raise BenchError("the watch ended with %d after saying %r" % (code, stderr))
        return latency, calls


def read_lines(stream, lines):
    for line in stream:
        lines.put(line.decode("utf-8", "replace").rstrip("\r\n"))
    stream.close()


def next_line(lines, timeout, missing):
    try:
        return lines.get(timeout=timeout)
    except queue.Empty:
        raise BenchError(missing) from None


def check_record(line, number):
    record = json.loads(line)
    expected = {"port": "COM%d" % number, "command": "brand", "frame": FRAME.hex(),
                "result": "sent", "exit": 0}
    if any(record.get(key) != value for key, value in expected.items()):
        raise BenchError("the watch's record for COM%d: %s" % (number, line))


def run(bench, device_script, register_exe, reps, blocked_reps, watch_reps):
    """All three measurements; returns their results for :func:`section`."""
    started = time.monotonic()
    cli = CliBench(bench, device_script, register_exe)
    try:
        many, blocked = cli.bench_ports(reps, blocked_reps)
        latency, calls = cli.bench_watch(watch_reps)
    finally:
        cli.close()
    return {
        "many": many,
        "blocked": blocked,
        "watch": latency,
        "watch_call": calls,
        "late_bytes": cli.late_bytes,
        "reps": (reps, blocked_reps, watch_reps),
        "elapsed": time.monotonic() - started,
    }


def section(results):
    """The section of docs/benchmarks.md for these measurements, as lines."""
    rows = []

    def row(what, program, baseline_name="", baseline=None, goal=None, fastest=False):
        """`fastest`: the 10th percentiles and their ratio instead of medians and the median
        of the ratios within rounds."""
        middle = (lambda values: spread(values)[0]) if fastest else median
        cells = [what, "%.2f" % middle(program), "" if fastest else "%.2f–%.2f" % spread(program),
                 baseline_name] + [""] * 5
        if baseline is not None:
            if fastest:
                ratio = middle(program) / middle(baseline)
            else:
                ratio = paired_ratio(program, baseline)
                cells[5] = "%.2f–%.2f" % spread(baseline)
            cells[4], cells[6] = "%.2f" % middle(baseline), "%.3f" % ratio
            if goal is not None:
                cells[7:9] = ["ratio ≤ %.2f" % goal, "met" if ratio <= goal else "MISSED"]
        rows.append("| " + " | ".join(cells) + " |")

    many, blocked = results["many"], results["blocked"]
    row("`brandcli brand` to %d ports that take the frame: start → process ended"
        % len(MANY_PORTS), many["many"], "one port", many["one"], GOAL_MANY_RATIO)
    # Other work on the machine lengthens a process's start but not what the ports add to it,
    # and so draws the ratio towards 1: the fastest tenth of each is the machine at rest.
    row("the same, fastest tenth of each (10th percentiles)", many["many"], "one port",
        many["one"], GOAL_MANY_RATIO, fastest=True)
    row("one-shot bare calls to the same %d ports in turn: start → process ended"
        % len(MANY_PORTS), many["bare_many"], "to one port", many["bare_one"])
    # What the further ports cost, in ms, which the machine's load moves less than the ratio.
    for name, what in (("", "`brandcli brand`"), ("bare_", "the bare calls")):
        row("%s: %d ports less one port, within rounds" % (what, len(MANY_PORTS)),
            [a - b for a, b in zip(many[name + "many"], many[name + "one"], strict=True)])
    row("`brandcli brand` to %d ports that do not take the frame: start → process ended"
        % len(BLOCKED_PORTS), blocked["many"], "one such port", blocked["one"],
        GOAL_BLOCKED_RATIO)
    row("`brandcli watch brand`: RegSetValueExA of the port's SERIALCOMM value → last byte at "
        "device", results["watch"])
    row("the RegSetValueExA call itself", results["watch_call"])
    reps, blocked_reps, watch_reps = results["reps"]
    return [
        SECTION_MARKER,
        "",
        "| measurement (ms) | median | p10–p90 | baseline | median | p10–p90 | ratio | goal | |",
        "|---|---:|---|---|---:|---|---:|---|---|",
    ] + rows + [
        "",
        "- Several ports: `brandcli brand COM6 … COM21` against `brandcli brand COM6`, each "
        "port a pty of its own, and in the same rounds their floor, `bench_bare_send.exe 6 … 21 "
        "--once` (the bare calls of one press to each port in turn, in one process with no "
        "thread of its own) against `bench_bare_send.exe 6 --once`; `brandcli brand COM22 … "
        "COM25` against `brandcli brand COM22` with every line suspended (as a device holding "
        "CTS low). %d and %d rounds that run each call once, in a new order each round, after "
        "warm-ups; ratios within rounds, as above; times from the Linux spawn of `wine64` until "
        "the process has ended. Each call's exit code (0; 6 and 5 for the suspended lines) and "
        "its stderr line for every port are checked, and that every port named got the exact "
        "frame once and every other port nothing." % (reps, blocked_reps),
        "- Other work on the machine (other builds and Wine tests) lengthens a process's start "
        "here from about 16 ms to over 100 ms at times, while what the further ports add stays "
        "about the same: a busy round draws the ratio towards 1, and the median of the ratios "
        "moves with the load from run to run. The 10th percentiles of the two calls are the "
        "machine at rest; the rows of the difference within rounds give the ports' cost in ms.",
        "- Bytes seen at the devices after the suspended lines were resumed: %d (a cancelled "
        "write must send nothing)." % results["late_bytes"],
        "- Watch: one `brandcli watch brand --count N --json` runs while the port's link in "
        "`dosdevices` is made and then `bench_register_port.exe`, a console program of the "
        "benchmark holding the SERIALCOMM key open, writes the value `\\Device\\Serial<N-1>` = "
        "`COMN`, stamped on the performance counter just before the call; the frame's last "
        "byte is stamped at the device. Then the value and the link are removed, so the port "
        "is new the next time; COM26 and COM27 take turns. Median of %d after 2 warm-ups; each "
        "record and stderr line checked, and the watch's exit code 0 once its count is met. "
        "Under Wine only: a real driver registers a port before it can be used, which the "
        "watch's 2 s of retries are for." % watch_reps,
        "- Measured %s; this part took %.0f s."
        % (datetime.date.today().isoformat(), results["elapsed"]),
        "",
    ]


def write_section(path, lines, before):
    """Puts `lines` in the markdown file `path` in place of its section (from SECTION_MARKER to
    the heading `before`), or just before `before` when it has none yet."""
    text = path.read_text(encoding="utf-8")
    new = "\n".join(lines) + "\n"
    end = text.index(before) if before in text else len(text)
    start = text.index(SECTION_MARKER) if SECTION_MARKER in text else end
    path.write_text(text[:start] + new + text[end:], encoding="utf-8")
