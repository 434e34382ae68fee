#!/usr/bin/python3
"""Benchmarks of the real program under Wine against bare baselines, side by side in one run.

Run by bench/run.sh, which builds the programs first:

    bench.py BRAND_EXE BENCH_DIR [--cli BRANDCLI_EXE] [--reps N] [--start-reps N]
             [--blocked-reps N] [--cli-reps N] [--cli-blocked-reps N] [--watch-reps N]
             [--only send|start|blocked|cli] [--out docs/benchmarks.md]

Three measurements, each on one wineserver, one display and one fake device, and with --cli
brandcli's several-port calls and its watch (cli_bench.py):

* Set press to last byte: from the moment the driver sends BM_CLICK to the real program's Set
  button until the 16th byte of the brand frame is read at the device, against
  bench_bare_send.exe making the same Win32 calls with no window (timed from just before its
  CreateFileA), and against the Set button of bench_min_dialog.exe, whose handler shows the
  same two status texts around those bare calls (the same click through Wine's button, the same
  cross-process message and the same visible work, none of the program's own). Presses rotate
  among the three so drift hits all alike.
* Start-up: from spawning ``wine64 PROGRAM`` on the Linux side until a polling driver sees the
  window visible with items in its port list, real program against bench_min_dialog.exe, with
  the server already running. With --cli, in the same rotation: ``brandcli brand COM5`` from
  its spawn until the process has ended, against ``bench_bare_send PORT --once``, a one-shot
  console program making the same bare calls, and ``brandcli brand COM5 --json``, which reads
  the port's USB identity among planted devices, against ``brandcli brand COM5``.
* Set press against a blocked device (line output suspended): how long the press keeps the
  window busy.

Timestamps from inside Wine use the performance counter, which Wine takes from
CLOCK_MONOTONIC_RAW; the run checks that before it trusts any number.
"""

import argparse
import datetime
import json
import os
import pathlib
import platform
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(ROOT / "harness"))
import cli_bench  # noqa: E402
import planted_devices  # noqa: E402
import winenv  # noqa: E402
from rig import (  # noqa: E402
    MAX_REPEATED_ROUNDS,
    NICE,
    TIMED_WINEDEBUG,
    WINE_START_FAILURE,
    FRAME,
    BenchError,
    ClockDevice,
    LineProcess,
    StartFailed,
    check_started,
    median,
    now_ns,
    paired_ratio,
    raise_priority,
    rotate,
    spread,
    wait_ended,
)

PORT = 5
REGISTER_EXE = "bench_register_port.exe"
SET_BRAND = 1003
PORT_LIST = 1000
TITLE = "Brand"
BASELINE_TITLE = "Brand baseline"
STATUS_CLOSED = "端口关闭"
STATUS_OPENED = "端口%d打开" % PORT

# Goals: the program may cost at most this much more than the minimal dialog, which does the
# same visible work. A press's own work (program less minimal dialog) may then take at most
# 1 - 1/GOAL_SEND_RATIO of the press. Against the bare calls there is no goal for the dialog:
# the click through Wine alone costs more than they do. The command line's press may cost at
# most GOAL_CLI_RATIO times the one-shot bare calls, start and exit included.
GOAL_SEND_RATIO = 1.05
# `brandcli brand COM5 --json` reads the port's USB identity through SetupAPI, among this many
# planted devices of the Ports class; it may cost at most GOAL_CLI_JSON_RATIO times the same call
# without --json, which reads none.
IDENTITY_DEVICES = 20
GOAL_CLI_JSON_RATIO = 1.10
GOAL_START_RATIO = 1.05
GOAL_CLI_RATIO = 1.05
GOAL_BLOCKED_MS = 1100.0

# docs/benchmarks.md: everything from this heading on is kept when the results are rewritten.
ANALYSIS_MARKER = "## Where the time goes"


def identity_devices():
    """COM5's device and composite ones on other ports, with their parents."""
    devices = [(r"USB\VID_2341&PID_8036\BENCH05", "COM%d" % PORT, None, "Bench board")]
    for n in range(1, IDENTITY_DEVICES):
        usb = r"USB\VID_2341&PID_%04X" % (0x8100 + n)
        devices += [(usb + r"&MI_00\6&1&0&%04d" % n, "COM%d" % (100 + n), usb + r"\SN%04d" % n,
                     "Board %d" % n), (usb + r"\SN%04d" % n, None, None, None)]
    return devices


class Bench:
    def __init__(self, args):
        self.args = args
        try:
            self._set_up(args)
        except BaseException:
            self.close()  # a failed start must not leave a prefix, a server or a display behind
            raise

    def _set_up(self, args):
        self.session = winenv.WineSession()
        self.display = winenv.Xvfb()
        self.prefix = self.with_display(self.session.new_prefix("bench"), self.display.display)
        # Copied to a folder the test user can read (a clone may be closed to that user);
        # device_clock.py imports fake_device.py. Every clock device starts from this copy.
        self.session.install(ROOT / "harness" / "fake_device.py")
        self.device_script = self.session.install(HERE / "device_clock.py")
        self.device = ClockDevice(self.device_script)
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
        self.cli = self.session.install(args.cli) if args.cli else None
        if self.cli:
            planted_devices.plant_usb_devices(self.prefix, self.session.root, identity_devices())
        self.repeated = []  # errors of the starts that Wine failed to make
        for pid in self.prefix.processes():
            raise_priority(pid)
        raise_priority()
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

    def spawn(self, argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL):
        argv = [str(a) for a in argv]
        return subprocess.Popen(
            winenv.as_user([winenv.WINE] + argv),
            env=self.prefix.env(extra={"WINEDEBUG": TIMED_WINEDEBUG}),
            stdin=stdin,
            stdout=stdout,
            stderr=stderr,
            cwd=str(pathlib.Path(argv[0]).parent),
            preexec_fn=raise_priority,
        )

    def close(self):
        for part in ("driver", "display", "device"):
            if hasattr(self, part):
                getattr(self, part).stop()
        if hasattr(self, "session"):
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

    def start_once(self, exe, title):
        """Spawns `exe`, returns ms until the driver sees its window `title` ready; leaves it
        running, the driver working its window, and returns the process too."""
        self.driver.write("watch:%s:%d:15000" % (title, PORT_LIST))
        if self.driver.readline() != "armed":
            raise BenchError("the driver did not arm")
        spawned = now_ns()
        proc = self.spawn([exe], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            seen = int(self.driver.answer()["seen"])
        except BenchError:
            check_started(proc, exe)
            raise
        return (seen - spawned) / 1e6, proc

    def close_program(self, proc, title=TITLE):
        self.driver.command("select:" + title)
        if self.driver.command("close").get("closed") != "1":
            raise BenchError("the window did not close")
        try:
            proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise BenchError("the program did not end after its window closed")
        finally:
            proc.stderr.close()

    def start_window(self, exe, title):
        ms, proc = self.start_once(exe, title)
        self.close_program(proc, title)
        return ms

    def run_console(self, argv):
        """Runs a console program that sends the brand frame; returns ms from its spawn until
        the process has ended, after checking its exit code and the frame."""
        self.device.clear()
        spawned = now_ns()
        proc = self.spawn(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        ended = wait_ended(proc, pathlib.Path(str(argv[0])).name)
        check_started(proc, argv[0])
        self.frame_arrival()
        return (ended - spawned) / 1e6

    def bench_start(self, reps, warmup=3):
        programs = {
            "brand": lambda: self.start_window(self.brand, TITLE),
            "min": lambda: self.start_window(self.min_dialog, BASELINE_TITLE),
        }
        if self.cli:
            programs["cli"] = lambda: self.run_console([self.cli, "brand", "COM%d" % PORT])
            programs["once"] = lambda: self.run_console([self.bare, PORT, "--once"])
            json_call = [self.cli, "brand", "COM%d" % PORT, "--json"]
            programs["cli_json"] = lambda: self.run_console(json_call)
            self.check_identity(json_call)
        return rotate(programs, reps, warmup, self.repeated)

    def check_identity(self, argv):
        """The --json call times the identity only if it reads it: its record must name COM5's
        planted device."""
        self.device.clear()
        proc = self.spawn(argv, stdout=subprocess.PIPE)
        out, _ = proc.communicate(timeout=30)
        self.frame_arrival()
        record = json.loads(out or b"{}")
        if (record.get("vid"), record.get("serial")) != ("2341", "BENCH05"):
            raise BenchError("brandcli --json did not name COM%d's device: %r" % (PORT, out))

    # -- Set press ------------------------------------------------------------------------------

    def open_window(self, exe, title, status=None):
        """Starts a windowed program and chooses the device's port in it."""
        while True:
            try:
                _, proc = self.start_once(exe, title)
                break
            except StartFailed as error:
                self.repeated.append(str(error))
                if len(self.repeated) > MAX_REPEATED_ROUNDS:
                    raise
        self.driver.command("choose:COM%d" % PORT)
        if status:
            shown = self.driver.command("status").get("status")
            if shown != status:
                raise BenchError("after choosing COM%d the status is %r" % (PORT, shown))
        return proc

    def press_window(self, title):
        self.driver.command("select:" + title)
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
        real = self.open_window(self.brand, TITLE, STATUS_OPENED)
        window = self.open_window(self.min_dialog, BASELINE_TITLE)
        bare = LineProcess(self.spawn([self.bare, PORT], stdin=subprocess.PIPE), "bare send")
        press = {
            "brand": lambda: self.press_window(TITLE),
            "min": lambda: self.press_window(BASELINE_TITLE),
            "bare": lambda: self.press_bare(bare),
        }
        returns = {}

        def timed(name):
            def measure():
                t0, t1 = press[name]()
                arrival = self.frame_arrival()
                returns.setdefault(name, []).append((t1 - t0) / 1e6)
                return (arrival - t0) / 1e6

            return measure

        def ping():
            self.driver.command("select:" + TITLE)
            answer = self.driver.command("ping:%d" % SET_BRAND)
            return (int(answer["t1"]) - int(answer["t0"])) / 1e6

        measures = {name: timed(name) for name in press}
        measures["ping"] = ping
        try:
            results = rotate(measures, reps, warmup)
            for name in press:
                results[name + "_return"] = returns[name][warmup:]
            # Both windows end their presses showing the closed port, as a user sees it.
            for title in (TITLE, BASELINE_TITLE):
                self.driver.command("select:" + title)
                status = self.driver.command("status").get("status")
                if status != STATUS_CLOSED:
                    raise BenchError("after the presses %s shows %r" % (title, status))
        finally:
            bare.stop()
            self.close_program(window, BASELINE_TITLE)
            self.close_program(real)
        return results

    # -- blocked device -------------------------------------------------------------------------

    def bench_blocked(self, reps):
        real = self.open_window(self.brand, TITLE, STATUS_OPENED)
        bare = LineProcess(self.spawn([self.bare, PORT], stdin=subprocess.PIPE), "bare send")
        results = {"brand": [], "bare": [], "late_bytes": 0}
        try:
            for _ in range(reps):
                for name in ("brand", "bare"):
                    self.device.command("block")
                    t0, t1 = self.press_window(TITLE) if name == "brand" else self.press_bare(bare)
                    self.device.command("unblock")
                    results[name].append((t1 - t0) / 1e6)
                    # A cancelled write must not go out once the line resumes.
                    time.sleep(0.1)
                    results["late_bytes"] += len(self.device.received())
        finally:
            bare.stop()
            self.close_program(real)
        return results



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


def report(clock_gap, start, send, blocked, reps, start_reps, blocked_reps, repeated, elapsed):
    rows = []

    def row(what, program, baseline_name="", baseline=None, goal_ratio=None, goal_ms=None):
        pm = median(program)
        cells = [what, "%.2f" % pm, "%.2f–%.2f" % spread(program), baseline_name]
        cells += [""] * 5
        ratio = None
        if baseline is not None:
            ratio = paired_ratio(program, baseline)
            cells[4] = "%.2f" % median(baseline)
            cells[5] = "%.2f–%.2f" % spread(baseline)
            cells[6] = "%.3f" % ratio
        if goal_ratio is not None:
            cells[7] = "ratio ≤ %.2f" % goal_ratio
            cells[8] = "met" if ratio <= goal_ratio else "MISSED"
        if goal_ms is not None:
            worst = max(program)
            cells[2] = "max %.2f" % worst
            cells[7] = "every press ≤ %d ms" % goal_ms
            cells[8] = "met" if worst <= goal_ms else "MISSED"
        rows.append(cells)

    row("Set press → last byte at device", send["brand"], "bare calls", send["bare"])
    row("Set press → last byte at device", send["brand"], "minimal dialog", send["min"],
        goal_ratio=GOAL_SEND_RATIO)
    row("Set press → press returns", send["brand_return"], "bare calls", send["bare_return"])
    row("Set press → press returns", send["brand_return"], "minimal dialog", send["min_return"],
        goal_ratio=GOAL_SEND_RATIO)
    # The whole handler's work is in the press to its return (the status shown after the frame
    # too), so the program's own share is taken from that ratio: the part of a press the minimal
    # dialog, doing the same visible work, does not need.
    press = median(send["brand_return"])
    own_share = 1 - 1 / paired_ratio(send["brand_return"], send["min_return"])
    share_goal = 1 - 1 / GOAL_SEND_RATIO
    rows.append([
        "Set press: the program's own work (program less minimal dialog, to press returns)",
        "%.2f" % (press * own_share), "", "", "", "", "%.1f %% of the press" % (100 * own_share),
        "share ≤ %.1f %%" % (100 * share_goal),
        "met" if own_share <= share_goal else "MISSED",
    ])
    row("driver → dialog message round trip (WM_NULL)", send["ping"])
    row("start → window visible, lists filled", start["brand"], "minimal dialog", start["min"],
        goal_ratio=GOAL_START_RATIO)
    if "cli" in start:
        row("`brandcli brand COM%d`: start → process ended" % PORT, start["cli"],
            "one-shot bare calls", start["once"], goal_ratio=GOAL_CLI_RATIO)
    if "cli_json" in start:
        row("`brandcli brand COM%d --json`, the USB identity among %d devices: start → process "
            "ended" % (PORT, IDENTITY_DEVICES), start["cli_json"], "without --json", start["cli"],
            goal_ratio=GOAL_CLI_JSON_RATIO)
    row("Set press, blocked device → returns", blocked["brand"], "bare calls", blocked["bare"],
        goal_ms=GOAL_BLOCKED_MS)

    click = median(send["min"]) - median(send["bare"])
    own = median(send["brand"]) - median(send["min"])
    breakdown = [
        "- Where a press's time goes, from the medians: the bare calls %.2f ms; the click "
        "through Wine (minimal dialog less bare calls: the message from the driver, Wine's "
        "button handling and repaints) %.2f ms, of which the message round trip is %.2f ms; "
        "the program's own work up to the frame (program less minimal dialog) %.2f ms."
        % (median(send["bare"]), click, median(send["ping"]), own),
    ]
    table = [
        "| measurement (ms) | program median | p10–p90 | baseline | median | p10–p90 | ratio "
        "| goal | |",
        "|---|---:|---|---|---:|---|---:|---|---|",
    ] + ["| " + " | ".join(cells) + " |" for cells in rows]
    notes = breakdown + [
        "- Baselines: *bare calls* is `bench_bare_send.exe`, the Win32 calls of one Set press "
        "with no window, timed from just before its CreateFileA; *minimal dialog* is "
        "`bench_min_dialog.exe`, a plain dialog with the same controls and font whose lists are "
        "filled the same way and whose Set button, pressed the same way as the program's, shows "
        "the same two status texts in the same read-only field (\"端口%d打开\" before those bare "
        "calls, \"端口关闭\" after them), one SetDlgItemTextW each; *one-shot bare calls* is "
        "`bench_bare_send.exe %d --once`, a console program that makes the bare calls once and "
        "exits, timed like `brandcli` from the Linux spawn of `wine64` until the process has "
        "ended." % (PORT, PORT),
        "- Repetitions: %d presses of each program and %d starts of each, after warm-ups; "
        "%d blocked presses of each. Presses and starts go in rounds that time every program "
        "once, in a new order each round, so that drift and other load hit all alike; a ratio "
        "is the median of the ratios within a round, so a slowdown of the whole machine cancels "
        "out of it (it can differ a little from the quotient of the two medians); timed "
        "processes run at nice %d." % (reps, start_reps, blocked_reps, NICE),
        "- `brandcli brand COM%d --json` reads its port's USB identity through SetupAPI, which "
        "it loads for that: %d devices of the Ports class are planted in the prefix's registry "
        "(one on COM%d, the others composite devices on ports nobody sends to, each with its "
        "parent and a product string), and the record's `vid` and `serial` are checked once "
        "before the rounds. The call without --json loads nothing of SetupAPI." % (
            PORT, IDENTITY_DEVICES, PORT),
        "- Press timings start when the driver sends BM_CLICK to the Set button (a message "
        "from another process, whose round trip is the WM_NULL row) and end when the fake "
        "device reads the frame's 16th byte, or when the send returns; start-up timings start "
        "at the Linux spawn of `wine64` with the wineserver running and end when a driver "
        "polling every millisecond sees the window visible with items in its port list.",
        "- Wine's performance counter matched CLOCK_MONOTONIC_RAW (pipe gap %.3f ms)."
        % clock_gap,
        "- Bytes seen at the device after blocked presses were released: %d (a cancelled write "
        "must send nothing)." % blocked["late_bytes"],
        "- Process starts that Wine failed to make (\"%s\", exit code 1, the same for every "
        "program), whose rounds were run again: %d." % (WINE_START_FAILURE, len(repeated)),
        "- Whole run: %.0f s." % elapsed,
    ]
    return table, notes


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("brand", help="the program's x86_64 brand.exe")
    parser.add_argument("bench_dir", help="folder with the bench_*.exe programs")
    parser.add_argument("--cli", help="brandcli.exe (x86_64), timed against the one-shot bare calls")
    parser.add_argument("--reps", type=int, default=2000, help="presses of each program")
    parser.add_argument("--start-reps", type=int, default=800, help="starts of each program")
    parser.add_argument("--blocked-reps", type=int, default=5)
    parser.add_argument(
        "--cli-reps", type=int, default=200,
        help="rounds of brandcli to 16 ports against one port (with --cli)",
    )
    parser.add_argument(
        "--cli-blocked-reps", type=int, default=10,
        help="rounds of brandcli to 4 suspended lines against one (with --cli)",
    )
    parser.add_argument(
        "--watch-reps", type=int, default=20, help="ports registered for brandcli watch (with --cli)"
    )
    parser.add_argument("--out", help="markdown file to write the results to")
    parser.add_argument(
        "--only",
        choices=("send", "start", "blocked", "cli"),
        help="one measurement alone: cli (brandcli's several ports and watch) prints its table "
        "and rewrites only its section of --out; the others are for profiling (they print raw "
        "medians and write nothing)",
    )
    args = parser.parse_args()
    if args.only == "cli" and not args.cli:
        parser.error("--only cli needs --cli")

    needed = [pathlib.Path(args.brand)] + [
        pathlib.Path(args.bench_dir) / name
        for name in ("bench_bare_send.exe", "bench_min_dialog.exe", "bench_driver.exe")
    ]
    if args.cli:
        needed += [pathlib.Path(args.cli), pathlib.Path(args.bench_dir) / REGISTER_EXE]
    missing = [str(path) for path in needed if not path.is_file()]
    if missing:
        raise BenchError("not built: " + ", ".join(missing))
    started = time.monotonic()
    bench = Bench(args)

    def run_cli():
        print(
            "== brandcli: %d rounds of several ports, %d of suspended lines, %d ports watched"
            % (args.cli_reps, args.cli_blocked_reps, args.watch_reps),
            flush=True,
        )
        results = cli_bench.run(
            bench, bench.device_script, pathlib.Path(args.bench_dir) / REGISTER_EXE,
            args.cli_reps, args.cli_blocked_reps, args.watch_reps,
        )
        return cli_bench.section(results)

    if args.only == "cli":
        try:
            clock_gap = bench.check_clock()
            print("== clock check: performance counter = CLOCK_MONOTONIC_RAW (gap %.3f ms)"
                  % clock_gap)
            cli_section = run_cli()
        finally:
            bench.close()
        print()
        print("\n".join(cli_section))
        if args.out:
            cli_bench.write_section(pathlib.Path(args.out), cli_section, ANALYSIS_MARKER)
            print("== section written to %s" % args.out)
        return 0
    if args.only:
        try:
            bench.check_clock()
            run = {
                "send": lambda: bench.bench_send(args.reps),
                "start": lambda: bench.bench_start(args.start_reps),
                "blocked": lambda: bench.bench_blocked(args.blocked_reps),
            }[args.only]
            results = run()
            for name, values in results.items():
                if isinstance(values, list):
                    low, high = spread(values)
                    print(
                        "%-14s median %8.3f ms  p10-p90 %.3f-%.3f"
                        % (name, median(values), low, high)
                    )
                else:
                    print("%-14s %s" % (name, values))
            if args.only == "start" and "cli_json" in results:
                print("brandcli --json against without: ratio %.3f; brandcli against the one-shot "
                      "bare calls: ratio %.3f" % (paired_ratio(results["cli_json"], results["cli"]),
                                                  paired_ratio(results["cli"], results["once"])))
        finally:
            bench.close()
        return 0
    try:
        clock_gap = bench.check_clock()
        print("== clock check: performance counter = CLOCK_MONOTONIC_RAW (gap %.3f ms)" % clock_gap)
        print("== Set press, %d repetitions each" % args.reps, flush=True)
        send = bench.bench_send(args.reps)
        print("== start-up, %d repetitions each" % args.start_reps, flush=True)
        start = bench.bench_start(args.start_reps)
        print("== blocked device, %d presses each" % args.blocked_reps, flush=True)
        blocked = bench.bench_blocked(args.blocked_reps)
        cli_section = run_cli() if args.cli else []
    finally:
        bench.close()
    elapsed = time.monotonic() - started

    table, notes = report(
        clock_gap, start, send, blocked, args.reps, args.start_reps, args.blocked_reps,
        bench.repeated, elapsed,
    )
    print()
    print("\n".join(table))
    print()
    print("\n".join(notes))
    print()
    print("\n".join(cli_section))

    if args.out:
        today = datetime.date.today().isoformat()
        out = pathlib.Path(args.out)
        # The analysis below the marker is written by hand; a new run keeps it.
        kept = []
        if out.exists():
            old = out.read_text(encoding="utf-8")
            if ANALYSIS_MARKER in old:
                kept = [old[old.index(ANALYSIS_MARKER) :].rstrip("\n"), ""]
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
        ] + table + [""] + notes + [""] + cli_section + kept
        out.write_text("\n".join(text), encoding="utf-8")
        print("\n== written to %s" % args.out)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (BenchError, winenv.HarnessError) as error:
        print("benchmark failed: %s" % error, file=sys.stderr)
        sys.exit(1)
