#!/usr/bin/env python3
"""Whether the registered emulator runs 32-bit Windows programs with threads: the two-thread
program (harness/thread_check.cpp, i686 build) RUNS times in a row in a WoW64 prefix, then how
long a trivial 32-bit program takes from start to end (the i686 brandcli --version). Run as root
after tools/test.sh or a build of build/win32:

    /usr/bin/python3 tools/thread_check.py [RUNS]      # default 100

Prints each failed run, then "N of RUNS runs passed" and the start times; exits 1 when any run
failed."""

import pathlib
import statistics
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "harness"))

import emulator  # noqa: E402
import winenv  # noqa: E402


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 100
    build = winenv.build_dir("win32")
    session = winenv.shared_session()
    program, cli = session.install(build / "harness" / "thread_check.exe", build / "brandcli.exe")
    prefix = session.new_wow64_prefix("threads")
    print("emulator: %s" % emulator.registered_version())
    passed = 0
    for run in range(1, runs + 1):
        result = prefix.run([program], timeout=120)
        if result.returncode == 0 and result.stdout.startswith("threads ok "):
            passed += 1
        else:
            print("run %d: exit %d: %s" % (run, result.returncode,
                                           (result.stdout + result.stderr).strip()[-300:]))
    print("%d of %d runs passed" % (passed, runs))
    starts = [prefix.run([cli, "--version"]).elapsed for _ in range(10)]
    print("a trivial 32-bit program (brandcli --version), start to end: median %.2f s, "
          "range %.2f-%.2f s" % (statistics.median(starts), min(starts), max(starts)))
    return 0 if passed == runs else 1


if __name__ == "__main__":
    sys.exit(main())
