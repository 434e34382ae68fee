#!/usr/bin/env bash
# Runs the Brand dialog under Wine against the fake device: builds the x86_64 Windows build,
# starts the fake device on a pty, maps that pty as COM5 in a fresh Wine prefix and opens the
# dialog, on the caller's display when there is one (DISPLAY), otherwise on a virtual display
# where the test driver chooses COM5, presses both Set buttons and saves a picture of the window.
# What the device receives is printed. Run as root:
#
#   bash tools/run.sh [--shipped] [--screenshot FILE]
#
# --shipped runs the shipped 32-bit program (build/win32) under Wine's WoW64 instead (qemu-user
# emulating the 32-bit Wine loader; its start takes about a second).
#
# Everything Wine-related runs as the unprivileged user brandtest (see harness/winenv.py).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

bash tools/setup.sh
echo "== build win64"
cmake -S "$ROOT" -B build/win64 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build/win64 -j2 >/dev/null
if [[ " $* " == *" --shipped "* ]]; then
    echo "== build win32"
    cmake -S "$ROOT" -B build/win32 -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
    cmake --build build/win32 -j2 --target brand >/dev/null
fi

exec /usr/bin/python3 tools/run_dialog.py "$@"
