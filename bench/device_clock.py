#!/usr/bin/python3
"""The fake device with a stopwatch: harness/fake_device.py's pty, but every chunk read from the
line is stamped with CLOCK_MONOTONIC_RAW (the clock Wine's performance counter runs on) the
moment the read returns, so the arrival of a frame's last byte can be set against timestamps
taken inside Windows programs.

    device_clock.py [LINES]

Serves LINES ptys (1 when not given), one device on each, so that calls to several ports can be
timed against one. Prints ``PTY <path>`` for each, in order, and ``READY``, then
``RX <line> <ns> <hex>`` for every chunk, <line> counting the ptys from 0. Commands on standard
input, one a line, each answered ``OK <command>``: ``block`` (suspend every line so a writer's
bytes stay pending, as a device holding CTS low would), ``unblock``, ``quit``.

Run it as the user that runs Wine: a pty belongs to its creator.
"""

import os
import select
import sys
import termios
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from fake_device import open_pty  # noqa: E402


def main():
    lines = [open_pty() for _ in range(int(sys.argv[1]) if len(sys.argv) > 1 else 1)]
    by_master = {master: index for index, (master, _, _) in enumerate(lines)}
    out = sys.stdout

    def emit(line):
        out.write(line + "\n")
        out.flush()

    for _, _, path in lines:
        emit("PTY " + path)
    emit("READY")
    stdin = sys.stdin.fileno()
    while True:
        ready, _, _ = select.select(list(by_master) + [stdin], [], [])
        for master in ready:
            if master in by_master:
                data = os.read(master, 4096)
                stamp = time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW)
                emit("RX %d %d %s" % (by_master[master], stamp, data.hex()))
        if stdin in ready:
            command = sys.stdin.readline()
            if not command:
                return 0
            command = command.strip()
            # Suspended on the slave side, which is the side a writer fills.
            if command in ("block", "unblock"):
                for _, slave, _ in lines:
                    termios.tcflow(slave, termios.TCOOFF if command == "block" else termios.TCOON)
            elif command == "quit":
                emit("OK quit")
                return 0
            else:
                emit("ERROR " + command)
                continue
            emit("OK " + command)


if __name__ == "__main__":
    sys.exit(main())
