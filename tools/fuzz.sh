#!/usr/bin/env bash
# Fuzzes the byte-level code in depth: the port-number parse, port discovery and the two frame
# builders, each libFuzzer target for SECONDS (default 300), starting from the stored corpus.
# The test command runs the same targets only briefly. Run from any folder:
#
#   bash tools/fuzz.sh [SECONDS]
#
# Prints "<target>: <N> executions, <M> crashes" per target and exits non-zero on a crash; a
# crashing input is kept under build/fuzz/run/<target>/artifacts.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if ! command -v clang++ >/dev/null; then
    bash "$ROOT/tools/setup.sh"
fi
FUZZ_SECONDS=${1:-300} exec bash "$ROOT/tests/fuzz/run.sh" "$ROOT/build/fuzz"
