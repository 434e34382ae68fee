#!/usr/bin/env bash
# Builds everything and runs every test: the native unit tests (ctest) and every test_*.py
# below tests/ (pytest, under Wine where needed). Run as root from any folder:
#
#   bash tools/test.sh
#
# Before the last line it prints how long each phase took and how many Wine process starts were
# made again (Wine fails about one in three thousand; harness/winenv.py); the last line is the
# total over both runners: "N passed, N failed[, N skipped]". Exits non-zero when anything
# failed, including a build.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
PYTHON=/usr/bin/python3
JOBS=${JOBS:-2}
RESULTS=$(mktemp -d /tmp/brand-results.XXXXXX)
trap 'rm -rf "$RESULTS"' EXIT

build_failures=0
PHASES=()
phase_name=""
phase_start=0

# step NAME: a new phase begins (and the one before it ends).
step() {
    end_phase
    echo "== $*"
    phase_name=$*
    phase_start=$(date +%s)
}
end_phase() {
    if [ -n "$phase_name" ]; then
        PHASES+=("$phase_name $(($(date +%s) - phase_start)) s")
    fi
    phase_name=""
}
RUN_START=$(date +%s)

step "setup"
bash tools/setup.sh || { echo "0 passed, 1 failed"; exit 1; }

# build NAME [cmake options...]; its log is shown only when it fails.
build() {
    local name=$1
    shift
    step "build $name"
    local log="$RESULTS/build-$name.log"
    if cmake -S "$ROOT" -B "build/$name" -DCMAKE_BUILD_TYPE=Release "$@" >"$log" 2>&1 &&
        cmake --build "build/$name" -j"$JOBS" >>"$log" 2>&1; then
        grep -i 'warning' "$log" || true
    else
        cat "$log"
        echo "build $name FAILED"
        build_failures=$((build_failures + 1))
    fi
}

build native
build win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
build win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The shipped Linux brandcli; the tests run the ARM builds under qemu-user.
for arch in x86_64 arm64 armhf; do
    build "linux-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/linux-$arch.cmake"
done

step "unit tests (ctest)"
ctest --test-dir build/native --output-on-failure -j"$JOBS" \
    --output-junit "$RESULTS/ctest.xml" || true

# The shipped build's end-to-end test runs the exe out of the release zip.
step "release"
bash tools/release.sh || { echo "release FAILED"; build_failures=$((build_failures + 1)); }

step "pytest"
export BRAND_REPEATED_STARTS="$RESULTS/repeated-starts"
: >"$BRAND_REPEATED_STARTS"
# Wine tests use build/win64, and the shipped build's test the release zip's build/win32 exe
# under WoW64; the junit file is what gets counted. Exit code 5 (nothing
# collected) is not a failure by itself: the count below then shows nothing ran.
"$PYTHON" -m pytest "$ROOT/tests" -p no:cacheprovider -rfEs --durations=12 \
    --junitxml="$RESULTS/pytest.xml" || true
end_phase

echo "== phases: $(IFS=,; echo "${PHASES[*]}" | sed 's/,/, /g'); in all $(($(date +%s) - RUN_START)) s"
echo "== wine starts repeated: $(wc -l <"$BRAND_REPEATED_STARTS")$(sort "$BRAND_REPEATED_STARTS" |
    uniq -c | awk '{n = $1; $1 = ""; printf "%s%s%s", (NR > 1 ? ", " : " ("), substr($0, 2),
    (n > 1 ? " x" n : "")} END {if (NR) printf ")"}')"

"$PYTHON" - "$RESULTS" "$build_failures" <<'EOF'
import os
import sys
import xml.etree.ElementTree as ET

results, build_failures = sys.argv[1], int(sys.argv[2])
passed, failed, skipped = 0, build_failures, 0
for name in ("ctest.xml", "pytest.xml"):
    path = os.path.join(results, name)
    if not os.path.exists(path) or os.path.getsize(path) == 0:
        print("%s: no results" % name)
        failed += 1
        continue
    root = ET.parse(path).getroot()
    for case in root.iter("testcase"):
        outcome = {child.tag for child in case}
        if case.get("status") == "fail" or outcome & {"failure", "error"}:
            failed += 1
        elif case.get("status") in ("notrun", "disabled") or "skipped" in outcome:
            skipped += 1
        else:
            passed += 1
line = "%d passed, %d failed" % (passed, failed)
if skipped:
    line += ", %d skipped" % skipped
print(line)
sys.exit(1 if failed or passed == 0 else 0)
EOF
