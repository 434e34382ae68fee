#!/usr/bin/env bash
# The benchmark command: the real program under Wine against bare baselines, side by side in one
# run. Builds the x86_64 program, brandcli and the benchmark programs, then runs bench/bench.py,
# which prints a table of medians and ratios and rewrites docs/benchmarks.md, and then
# bench/linux_bench.py for the Linux brandcli and bench/vm_bench.py for it on the kernel's own
# drivers in a virtual machine, which rewrite their own sections. Run as root:
#
#   bash bench/run.sh                             # about 9 minutes
#   bash bench/run.sh --only cli                  # brandcli's several ports and watch alone,
#                                                 # about 2 minutes; rewrites only their section
#   REPS=500 START_REPS=200 bash bench/run.sh     # a quick look, about 4 minutes
#
# The defaults (REPS presses and START_REPS starts of each program, CLI_REPS rounds of brandcli
# to 16 ports against one) are what it takes on a shared 2-core virtual machine for two runs to
# agree within 0.03 on the ratios that have goals, but for brandcli's 16 ports against one: its
# median moves with the machine's load, its row of 10th percentiles does not (see
# docs/benchmarks.md). Further arguments go to bench/bench.py.
#
# Everything Wine-related runs as the unprivileged user brandtest (see harness/winenv.py).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
REPS=${REPS:-2000}
START_REPS=${START_REPS:-800}
BLOCKED_REPS=${BLOCKED_REPS:-5}
CLI_REPS=${CLI_REPS:-200}
CLI_BLOCKED_REPS=${CLI_BLOCKED_REPS:-10}
# Build folders of their own, so a benchmark never races a test run's build.
PROGRAM_BUILD=${BENCH_PROGRAM_BUILD:-build/bench-win64}
BENCH_BUILD=${BENCH_BUILD:-build/bench-tools}
TOOLCHAIN="$ROOT/cmake/mingw-x86_64.cmake"

bash tools/setup.sh
echo "== build"
cmake -S "$ROOT" -B "$PROGRAM_BUILD" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" >/dev/null
cmake --build "$PROGRAM_BUILD" -j2 --target brand brandcli >/dev/null
# The benchmark programs as a project of their own: the same sources whether or not the
# Windows build also lists them.
cmake -S "$ROOT/bench" -B "$BENCH_BUILD" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" >/dev/null
cmake --build "$BENCH_BUILD" -j2 >/dev/null

/usr/bin/python3 "$ROOT/bench/bench.py" "$PROGRAM_BUILD/brand.exe" "$BENCH_BUILD" \
    --cli "$PROGRAM_BUILD/brandcli.exe" --reps "$REPS" --start-reps "$START_REPS" \
    --blocked-reps "$BLOCKED_REPS" --cli-reps "$CLI_REPS" --cli-blocked-reps "$CLI_BLOCKED_REPS" \
    --out "$ROOT/docs/benchmarks.md" "$@"

# One measurement alone (--only) leaves the Linux side out.
for arg in "$@"; do
    case "$arg" in --only | --only=*) exit 0 ;; esac
done

# The Linux brandcli against its own floor (bench/linux_bench.py says what is measured).
echo "== linux"
cmake -S "$ROOT" -B build/linux-x86_64 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/linux-x86_64.cmake" >/dev/null
cmake --build build/linux-x86_64 -j2 --target brandcli >/dev/null
mkdir -p "$BENCH_BUILD"
gcc -std=c11 -Wall -Wextra -Os -static -s -o "$BENCH_BUILD/bench_bare_send_linux" \
    "$ROOT/bench/bare_send_linux.c"
/usr/bin/python3 "$ROOT/bench/linux_bench.py" build/linux-x86_64/brandcli \
    "$BENCH_BUILD/bench_bare_send_linux" --reps "${LINUX_REPS:-400}" --out "$ROOT/docs/benchmarks.md"

# The Linux brandcli on the kernel's own drivers, in the virtual machine (bench/vm_bench.py).
echo "== linux drivers (virtual machine)"
gcc -std=c11 -Wall -Wextra -Os -static -s -o "$BENCH_BUILD/bench_vm_timer" "$ROOT/bench/vm_timer.c"
/usr/bin/python3 "$ROOT/bench/vm_bench.py" build/linux-x86_64/brandcli \
    "$BENCH_BUILD/bench_bare_send_linux" "$BENCH_BUILD/bench_vm_timer" \
    --rounds "${VM_ROUNDS:-5}" --out "$ROOT/docs/benchmarks.md"
