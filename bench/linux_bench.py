#!/usr/bin/python3
"""The Linux brandcli against its floor, in rounds on this machine's ptys, as the test user.

    linux_bench.py BRANDCLI BARE_SEND [--reps N] [--out docs/benchmarks.md]

* `brandcli brand PTY` from spawn to exit, against bench_bare_send_linux (the same system calls,
  static like brandcli, nothing else), alternating: goal at most 1.05 times;
* 16 ptys in one call against one: goal at most 1.5 times;
* 16 stopped ptys against one stopped: goal at most 1.1 times;
* a Python script with pyserial (python3-serial) that opens the port with the same settings,
  writes the frame, waits for it to drain and closes, against brandcli: the ratio only (it mostly
  measures Python's start).

Both sides of each ratio are started the same way (setpriv to the test user), so the ratios
include that start; medians of each side within the same rounds. Rewrites the section from
"## brandcli on Linux" to the end of the output file.
"""

import argparse
import pathlib
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "harness"))
import linuxenv  # noqa: E402
import winenv  # noqa: E402
from fake_device import FakeDevice  # noqa: E402

MARKER = "## brandcli on Linux"
PYSERIAL = (
    "import serial,sys\n"
    "p=serial.Serial(sys.argv[1],38400,bytesize=8,parity='N',stopbits=1,rtscts=True,"
    "write_timeout=1,exclusive=True)\n"
    "p.write(b'BRVANDREL8;'+bytes(5)); p.flush(); p.close()\n")


def timed(command):
    start = time.monotonic()
    code = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, cwd="/").returncode
    return (time.monotonic() - start) * 1000, code


def rounds(pairs, reps, devices):
    """Alternates the commands of `pairs` (name -> command) `reps` times; medians in ms."""
    samples = {name: [] for name in pairs}
    for _ in range(reps):
        for name, command in pairs.items():
            for device in devices:
                device.clear()
            ms, _ = timed(command)
            samples[name].append(ms)
    return {name: statistics.median(values) for name, values in samples.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("brandcli")
    parser.add_argument("bare")
    parser.add_argument("--reps", type=int, default=200)
    parser.add_argument("--out")
    args = parser.parse_args()
    cli = linuxenv.LinuxCli("x86_64", args.brandcli)
    bare = linuxenv.LinuxCli("x86_64", args.bare)
    user = winenv.as_user([])
    devices = [FakeDevice() for _ in range(16)]
    try:
        one, many = devices[0].path, [d.path for d in devices]
        rows = []
        m = rounds({"brandcli": cli.command(["brand", one]), "bare": bare.command([one])},
                   args.reps, devices[:1])
        rows.append(("brandcli brand PTY / bare calls", m["brandcli"], m["bare"], 1.05))
        m = rounds({"16": cli.command(["brand"] + many), "1": cli.command(["brand", one])},
                   max(args.reps // 4, 10), devices)
        rows.append(("16 ptys / 1 pty", m["16"], m["1"], 1.5))
        for d in devices:
            d.block()
        m = rounds({"16": cli.command(["brand"] + many), "1": cli.command(["brand", one])},
                   5, devices)
        for d in devices:
            d.unblock()
        rows.append(("16 stopped / 1 stopped", m["16"], m["1"], 1.1))
        m = rounds({"pyserial": user + ["/usr/bin/python3", "-c", PYSERIAL, one],
                    "brandcli": cli.command(["brand", one])}, max(args.reps // 4, 10), devices[:1])
        rows.append(("pyserial script / brandcli", m["pyserial"], m["brandcli"], None))
    finally:
        for d in devices:
            d.stop()
        cli.close()
        bare.close()

    lines = [MARKER, "", "`bash bench/run.sh` (Linux part, %s, %d rounds): medians of each side "
             "within the same rounds, started the same way (as the test user)." % (
                 time.strftime("%Y-%m-%d"), args.reps), "",
             "| ratio | ms | ms | ratio | goal |", "|---|---|---|---|---|"]
    for name, a, b, goal in rows:
        verdict = "-" if goal is None else ("<= %.2f %s" % (goal, "met" if a / b <= goal else
                                                               "NOT met"))
        lines.append("| %s | %.2f | %.2f | %.3f | %s |" % (name, a, b, a / b, verdict))
    text = "\n".join(lines) + "\n"
    print(text)
    if args.out:
        path = pathlib.Path(args.out)
        old = path.read_text() if path.exists() else ""
        kept = old.split(MARKER)[0].rstrip("\n")
        path.write_text((kept + "\n\n" if kept else "") + text)


if __name__ == "__main__":
    main()
