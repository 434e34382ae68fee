"""qemu-user, which runs every program here that is not x86_64: the 32-bit Wine loader (through
the kernel's binfmt_misc entry, which tools/setup.sh makes) and the ARM builds of the Linux
brandcli (called by path).

Their paths come from the package's own file list, since the packaging has moved them before
(qemu-user-static's ``*-static`` names in Debian 12, qemu-user's plain names from 10.0 on). The
version that counts for 32-bit programs is the registered emulator's, asked of it through the
kernel: with the F flag the entry keeps the file it opened at registration, whatever has been
installed over it since.
"""

import functools
import hashlib
import os
import re
import subprocess

PACKAGE = "qemu-user"
BINFMT_I386 = "/proc/sys/fs/binfmt_misc/qemu-i386"
# "SHA256 PATH" of the file tools/setup.sh registered (in /run: gone at a reboot, as the entry is).
REGISTRATION_RECORD = "/run/brand-qemu-i386.sha256"
# An i386 program the kernel hands to the registered emulator (wine32:i386's loader).
I386_PROGRAM = "/usr/lib/wine/wine"
# Under 7.2 a 32-bit Wine process in which two threads work at once dies, and a start takes
# about 50 s; 10.0 has neither fault.
MIN_MAJOR = 10
TOO_OLD = "32-bit programs with threads die under qemu 7.2"


@functools.lru_cache(maxsize=None)
def binary(target):
    """The path of qemu-user's emulator for `target` ("i386", "aarch64", "arm"), or None when the
    package is not installed or holds none."""
    listed = subprocess.run(["dpkg", "-L", PACKAGE], capture_output=True, text=True)
    wanted = "/usr/bin/qemu-" + target
    return wanted if listed.returncode == 0 and wanted in listed.stdout.split("\n") else None


def registered_interpreter():
    """The interpreter path of the binfmt_misc entry for i386 programs, or None."""
    try:
        with open(BINFMT_I386) as f:
            lines = f.read().splitlines()
    except OSError:
        return None
    return next((line.split(None, 1)[1] for line in lines if line.startswith("interpreter ")),
                None)


@functools.lru_cache(maxsize=None)
def registered_version():
    """The first line the registered emulator prints for its version ("qemu-i386 version
    10.0.2 (Debian ...)"), asked through the kernel; None when no i386 program runs."""
    if not os.path.exists(I386_PROGRAM):
        return None
    try:
        result = subprocess.run([I386_PROGRAM], env={"QEMU_VERSION": "1"}, capture_output=True,
                                text=True, timeout=30)
    except OSError:
        return None
    lines = result.stdout.splitlines()
    return lines[0] if result.returncode == 0 and lines else None


def too_old():
    """Why the registered emulator must not run 32-bit programs, in one line, or None."""
    version = registered_version()
    found = re.search(r"version (\d+)\.(\d+)", version or "")
    if found and int(found.group(1)) < MIN_MAJOR:
        return "the registered qemu-i386 is %s.%s (%s): %s; tools/setup.sh installs 10" % (
            found.group(1), found.group(2), registered_interpreter(), TOO_OLD)
    return None


@functools.lru_cache(maxsize=None)
def registered_identity():
    """What a prefix made under the registered emulator depends on: its version and its file's
    sha256 (a prefix made under another emulator is never reused). The sha256 is the one
    tools/setup.sh recorded when it registered the file, which stays right while the package is
    removed or replaced under the entry; without a record, the file at the entry's path."""
    path = registered_interpreter()
    try:
        with open(REGISTRATION_RECORD) as f:
            digest, recorded = (f.read().split() + ["", ""])[:2]
    except OSError:
        digest, recorded = "-", None
    if recorded != path and path:
        try:
            with open(path, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
        except OSError:
            digest = "-"
    return "qemu-i386=%s %s %s" % (path, digest, registered_version())
