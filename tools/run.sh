#!/usr/bin/env bash
# Tries the program under Wine against the fake device: builds the x86_64 Windows build, starts
# the fake device on a pty, maps that pty as COM5 in a fresh Wine prefix, runs the program
# choosing COM5, then prints what the device received and cleans up. Run as root:
#
#   bash tools/run.sh
#
# Everything Wine-related runs as the unprivileged user brandtest (see tests/harness/winenv.py).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

# What runs, relative to the win64 build, with its arguments. GUI=1 starts a virtual display
# for a windowed program (it is then closed when RUN_SECONDS have passed).
PROGRAM=${PROGRAM:-tools/brand_console.exe}
PROGRAM_ARGS=${PROGRAM_ARGS:-COM5}
PORT=${PORT:-5}
GUI=${GUI:-0}
RUN_SECONDS=${RUN_SECONDS:-30}

bash tools/setup.sh
echo "== build win64"
cmake -S "$ROOT" -B build/win64 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build/win64 -j2 >/dev/null

/usr/bin/python3 - "$ROOT" "build/win64/$PROGRAM" "$PORT" "$GUI" "$RUN_SECONDS" \
    $PROGRAM_ARGS <<'EOF'
import subprocess
import sys

root, program, port, gui, seconds = sys.argv[1:6]
args = sys.argv[6:]
sys.path.insert(0, root + "/tests/harness")
sys.path.insert(0, root + "/tools")
import winenv
from fake_device import FakeDevice

session = winenv.WineSession()
display = None
try:
    with FakeDevice() as device:
        print("== fake device on %s, mapped as COM%s" % (device.path, port))
        prefix = session.new_prefix("run")
        prefix.map_port(int(port), device.path)
        exe = session.install(program)
        if gui == "1":
            display = winenv.Xvfb()
        print("== running %s %s" % (exe.name, " ".join(args)))
        proc = prefix.spawn([exe] + args, display=display.display if display else None,
                            stdout=None, stderr=None)
        try:
            proc.wait(timeout=float(seconds))
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        device.wait_for(1, timeout=1.0, settle=0.5)
        print("== the device received %d bytes:" % len(device.received()))
        for line in device.frames():
            print("   " + line)
finally:
    if display:
        display.stop()
    session.close()
EOF
