"""Runs every libFuzzer target briefly (FUZZ_SECONDS, default 4, per target): each replays its
stored corpus and must then have run a real number of inputs without a single crash. Fuzzing in
depth is `bash tools/fuzz.sh [SECONDS]`.

Skipped only when clang++ is missing; a missing libFuzzer runtime is a build failure, not a skip.
"""

import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
TARGETS = ("fuzz_port_number", "fuzz_discovery", "fuzz_frames")
MIN_EXECUTIONS = 1000
LINE = re.compile(r"^(\w+): (\d+) executions, (\d+) crashes$")


@pytest.mark.skipif(shutil.which("clang++") is None, reason="clang++ is not installed")
def test_fuzz_targets_run_clean():
    seconds = int(os.environ.get("FUZZ_SECONDS", "4"))
    build = os.environ.get("FUZZ_BUILD_DIR", str(ROOT / "build" / "fuzz"))
    proc = subprocess.run(
        ["bash", str(HERE / "run.sh"), build],
        env=dict(os.environ, FUZZ_SECONDS=str(seconds)),
        capture_output=True,
        text=True,
        # three targets, plus building them and libFuzzer's own start-up and shutdown
        timeout=len(TARGETS) * seconds + 600,
    )
    print(proc.stdout)
    results = {}
    for line in proc.stdout.splitlines():
        m = LINE.match(line.strip())
        if m:
            results[m.group(1)] = (int(m.group(2)), int(m.group(3)))

    assert set(results) == set(TARGETS), (
        f"run.sh reported {sorted(results)} (exit {proc.returncode})\n{proc.stderr[-4000:]}"
    )
    for target in TARGETS:
        executions, crashes = results[target]
        print(f"{target}: {executions} executions in {seconds} s, {crashes} crashes")
        assert crashes == 0, f"{target} crashed:\n{proc.stderr[-4000:]}"
        assert executions > MIN_EXECUTIONS, f"{target} ran only {executions} inputs"
    assert proc.returncode == 0, proc.stderr[-4000:]
