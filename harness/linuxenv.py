"""Running the Linux brandcli from tests and benchmarks: as the unprivileged test user, never as
root (the machine's /dev/ttyS0 is its console), natively or under qemu-user for the ARM builds.

    cli = LinuxCli("x86_64")             # build/linux-x86_64/brandcli, copied where the user reads it
    result = cli.run(["brand", device.path])
    proc = cli.spawn(["watch", "brand", "--in", folder])

The same precondition as the Wine tests holds first: the test user can open none of /dev/ttyS*
(winenv.check_serial_devices_closed).
"""

import ctypes
import os
import pathlib
import shutil
import struct
import subprocess
import time

import emulator
import winenv

ARCHES = ("x86_64", "arm64", "armhf")
# The qemu-user target that runs each build; x86_64 runs natively.
QEMU_TARGET = {"x86_64": None, "arm64": "aarch64", "armhf": "arm"}


def build_dir(arch):
    """build/linux-<arch>, as tools/test.sh builds it; BRAND_BUILD_LINUX_<ARCH> overrides it."""
    override = os.environ.get("BRAND_BUILD_LINUX_" + arch.upper())
    return pathlib.Path(override) if override else winenv.repo_root() / "build" / ("linux-" + arch)


class LinuxCli:
    """One build of brandcli, installed in a folder of the test user's."""

    def __init__(self, arch="x86_64", program=None):
        winenv.check_serial_devices_closed()
        self.arch = arch
        source = pathlib.Path(program or build_dir(arch) / "brandcli")
        if not source.exists():
            raise winenv.HarnessError("%s is not built (tools/test.sh builds it)" % source)
        target = QEMU_TARGET[arch]
        self.emulator = [emulator.binary(target)] if target else []
        if self.emulator == [None]:
            raise winenv.HarnessError("qemu-%s is missing (package %s, tools/setup.sh)" % (
                target, emulator.PACKAGE))
        self.folder = winenv.user_dir("brand-linux-")
        self.path = self.folder / "brandcli"
        shutil.copy2(str(source), str(self.path))
        winenv.chown_to_user(self.path)

    def command(self, args):
        return winenv.as_user(self.emulator + [str(self.path)] + [str(a) for a in args])

    def spawn(self, args, **popen_args):
        popen_args.setdefault("stdout", subprocess.PIPE)
        popen_args.setdefault("stderr", subprocess.PIPE)
        popen_args.setdefault("stdin", subprocess.DEVNULL)
        popen_args.setdefault("cwd", "/")
        return subprocess.Popen(self.command(args), text=True, **popen_args)

    def run(self, args, timeout=60):
        """Runs to the end; a CompletedProcess with text output and ``.elapsed`` in seconds."""
        start = time.monotonic()
        proc = self.spawn(args)
        out, err = proc.communicate(timeout=timeout)
        result = subprocess.CompletedProcess(args, proc.returncode, out, err)
        result.elapsed = time.monotonic() - start
        return result

    def close(self):
        shutil.rmtree(self.folder, ignore_errors=True)


IN_OPEN = 0x20
_libc = ctypes.CDLL(None, use_errno=True)


class OpenWatch:
    """Sees every open of one file or device node (inotify IN_OPEN), to prove that nothing
    opened it."""

    def __init__(self, path):
        self._fd = _libc.inotify_init1(os.O_NONBLOCK)
        if self._fd < 0 or _libc.inotify_add_watch(self._fd, str(path).encode(), IN_OPEN) < 0:
            raise winenv.HarnessError("cannot watch %s for opens" % path)

    def opens(self):
        count = 0
        try:
            data = os.read(self._fd, 4096)
        except BlockingIOError:
            return 0
        while data:
            _, mask, _, length = struct.unpack_from("iIII", data)
            count += bool(mask & IN_OPEN)
            data = data[16 + length:]
        return count

    def close(self):
        os.close(self._fd)
