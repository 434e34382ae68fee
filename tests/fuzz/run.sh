#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each one for a bounded time.
#   tests/fuzz/run.sh [BUILD_DIR]        (default: build/fuzz under the repository)
#   FUZZ_SECONDS=N                       seconds per target (default 30)
# Each target starts from a copy of its seed corpus inside the build directory, so the inputs a
# run discovers never land in the repository. Prints one line per target,
#   <target>: <N> executions, <M> crashes
# and exits non-zero when a target crashed (or could not be built or run).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-$root/build/fuzz}"
seconds="${FUZZ_SECONDS:-30}"
targets=(fuzz_port_number fuzz_discovery fuzz_frames)

# libFuzzer reads -max_total_time=0 as "no limit": refuse it rather than run for ever.
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
    echo "run.sh: FUZZ_SECONDS must be a whole number of seconds above 0, not '$seconds'" >&2
    exit 2
fi

mkdir -p "$build"
build="$(cd "$build" && pwd)"

CC=clang CXX=clang++ cmake -S "$here" -B "$build" >"$build/configure.log" 2>&1 || {
    cat "$build/configure.log" >&2
    exit 2
}
cmake --build "$build" -j "$(nproc)" >"$build/build.log" 2>&1 || {
    cat "$build/build.log" >&2
    exit 2
}

failed=0
for target in "${targets[@]}"; do
    work="$build/run/$target"
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    cp -a "$here/corpus/$target/." "$work/corpus/"

    status=0
    # -timeout: one input that runs for seconds means a walk that does not end.
    "$build/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1 || status=$?

    execs="$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$work/log" | tail -n 1)"
    if [ -z "$execs" ]; then
        # No final statistics (the run died hard): fall back to the last progress line.
        execs="$(sed -n 's/^#\([0-9][0-9]*\)[[:space:]].*/\1/p' "$work/log" | tail -n 1)"
    fi
    crashes="$(find "$work/artifacts" -type f | wc -l)"
    if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ]; then
        crashes=1  # it failed without leaving an input behind; count it all the same
    fi

    echo "$target: ${execs:-0} executions, $crashes crashes"
    if [ "$crashes" -ne 0 ]; then
        failed=1
        echo "--- $target log (tail), full log in $work/log" >&2
        tail -n 40 "$work/log" >&2
        find "$work/artifacts" -type f -exec echo "crashing input: {}" \; >&2
    fi
done
exit "$failed"
