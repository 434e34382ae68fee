"""A virtual machine with the kernel's own serial drivers, for the Linux brandcli: Debian's kernel
(unpacked by tools/setup.sh into /var/cache/brand-vm, never the machine's own /boot or
/lib/modules) under QEMU with software emulation, as the test user, with a busybox initramfs made
for the run.

    with Guest(brandcli) as vm:
        vm.sh("stty -F /dev/ttyS1")                  # a shell command in the guest, its output
        result = vm.cli(["brand", "/dev/ttyS1"])     # brandcli in the guest, as user 1000
        vm.ends["uart"].wait_for(16)                 # the bytes at the port's far end, on the host

The guest's ports and where their far ends are, on the host:
  /dev/ttyS1      8250 (isa-serial)            ends["uart"], a unix socket
  /dev/ttyUSB0    ftdi_sio (QEMU's FTDI)       ends["ftdi"], plugged by `plug_ftdi`
  /dev/ttyACM0    cdc_acm, a g_serial gadget   its own end /dev/ttyGS0, copied by `acm_reads`
                                               to the 8250 `relay` (pci-serial), whose far end
                                               is ends["acm"]
  `cts_low`       8250 (pci-serial) on a host pty: QEMU cannot read a pty's modem lines, so the
                  guest sees CTS low: a device that is not ready. ends["cts"], the pty.
The console (ttyS0) carries the shell the host drives; QMP plugs and unplugs devices.
"""

import errno
import json
import lzma
import os
import pathlib
import pty
import re
import shutil
import socket
import subprocess
import threading
import time
import tty

import winenv

VM_CACHE = pathlib.Path("/var/cache/brand-vm")
QEMU = "/usr/bin/qemu-system-x86_64"
BUSYBOX = "/bin/busybox"
# Loaded with insmod, which resolves nothing itself: in dependency order.
MODULES = (
    "drivers/usb/common/usb-common", "drivers/usb/core/usbcore", "drivers/usb/host/xhci-hcd",
    "drivers/usb/host/xhci-pci", "drivers/usb/serial/usbserial", "drivers/usb/serial/ftdi_sio",
    "drivers/usb/class/cdc-acm", "fs/configfs/configfs", "drivers/usb/gadget/udc/udc-core",
    "drivers/usb/gadget/udc/dummy_hcd", "drivers/usb/gadget/function/u_serial",
    "drivers/usb/gadget/libcomposite", "drivers/usb/gadget/function/usb_f_acm",
    # The host's shell channel: a virtio port takes a whole command at once, where the emulated
    # UART's input can wait in QEMU until something else wakes it.
    "drivers/virtio/virtio_ring", "drivers/virtio/virtio",
    "drivers/virtio/virtio_pci_legacy_dev", "drivers/virtio/virtio_pci_modern_dev",
    "drivers/virtio/virtio_pci", "drivers/char/virtio_console")
GADGET = "drivers/usb/gadget/legacy/g_serial"
ACM_SERIAL = "ACM-RIG-7"
FTDI_SERIAL = "FT-RIG-1"
USER_ID = 1000
BOOT_TIMEOUT = 60

INIT = r"""#!/bin/busybox sh
/bin/busybox mkdir -p /bin /sbin /usr/bin /usr/sbin /proc /sys /dev /tmp
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo 1 > /proc/sys/kernel/printk
for m in /lib/rig/[0-9]*.ko; do insmod "$m" || echo "insmod $m failed"; done
ctl=
for p in /sys/class/virtio-ports/*; do [ "$(cat $p/name)" = ctl ] && ctl=/dev/${p##*/}; done
[ -n "$ctl" ] && sh /etc/rig.sh 0<>$ctl 1>&0 2>&0
poweroff -f
"""

# Shell functions the host calls. `cli USER ARGS...`: brandcli as that user, then its exit code,
# wall time in centiseconds (/proc/uptime), stdout and stderr between markers.
FUNCTIONS = r"""#!/bin/sh
up() { read t _ </proc/uptime; echo "${t%.*}${t#*.}"; }
cli() {
    u=$1; shift
    a=$(up)
    if [ "$u" = root ]; then /brandcli "$@" </dev/null >/tmp/o 2>/tmp/e; else
        su -s /bin/sh line -c '/brandcli "$@"' -- x "$@" </dev/null >/tmp/o 2>/tmp/e; fi
    r=$?
    b=$(up)
    echo "@@cli $r $((b - a))"; cat /tmp/o; echo "@@err"; cat /tmp/e; echo "@@end"
}
# One command a line, each run in this shell, so variables last from one to the next.
while IFS= read -r line; do eval "$line"; done
"""


class HarnessVmError(winenv.HarnessError):
    pass


def kernel_dir():
    """The newest kernel tools/setup.sh unpacked: (vmlinuz, its modules folder)."""
    found = sorted(VM_CACHE.glob("*/boot/vmlinuz-*")) if VM_CACHE.is_dir() else []
    if not found:
        raise HarnessVmError("no kernel in %s (tools/setup.sh unpacks Debian's)" % VM_CACHE)
    vmlinuz = found[-1]
    version = vmlinuz.name[len("vmlinuz-"):]
    return vmlinuz, vmlinuz.parents[1] / "lib" / "modules" / version / "kernel"


def _module(modules, name):
    for suffix in (".ko", ".ko.xz"):
        path = modules / (name + suffix)
        if path.exists():
            data = path.read_bytes()
            return lzma.decompress(data) if suffix == ".ko.xz" else data
    raise HarnessVmError("module %s missing under %s" % (name, modules))


def make_initramfs(folder, brandcli, modules, extra=()):
    """A newc archive: busybox, the modules, brandcli and the `extra` programs at /, /init;
    returns its path."""
    tree = folder / "tree"
    for sub in ("bin", "lib/rig", "etc"):
        (tree / sub).mkdir(parents=True)
    shutil.copy2(BUSYBOX, tree / "bin" / "busybox")
    for i, name in enumerate(MODULES):
        (tree / "lib" / "rig" / ("%02d-%s.ko" % (i, name.rsplit("/", 1)[1]))).write_bytes(
            _module(modules, name))
    (tree / "lib" / "rig" / "g_serial.ko").write_bytes(_module(modules, GADGET))
    for program in (brandcli,) + tuple(extra):
        shutil.copy2(str(program), tree)
        (tree / pathlib.Path(program).name).chmod(0o755)
    (tree / "init").write_text(INIT)
    (tree / "etc" / "rig.sh").write_text(FUNCTIONS)
    (tree / "etc" / "passwd").write_text("root:x:0:0::/:/bin/sh\nline:x:%d:%d::/tmp:/bin/sh\n"
                                         % (USER_ID, USER_ID))
    (tree / "etc" / "group").write_text("root:x:0:\nline:x:%d:\n" % USER_ID)
    for path in (tree / "init", tree / "bin" / "busybox"):
        path.chmod(0o755)
    archive = folder / "initramfs.cpio"
    names = subprocess.run(["find", "."], cwd=tree, capture_output=True, check=True).stdout
    with open(archive, "wb") as out:
        subprocess.run(["cpio", "--quiet", "-o", "-H", "newc", "-R", "0:0"], cwd=tree,
                       input=names, stdout=out, check=True)
    shutil.rmtree(tree)
    return archive


class FarEnd:
    """The host end of one port: every byte that arrives, with its arrival time."""

    def __init__(self, fd=None):
        self._lock = threading.Condition()
        self._bytes = bytearray()
        self.times = []  # monotonic time of each read's first byte, with the offset it starts at
        self._fd = fd
        if fd is not None:
            threading.Thread(target=self._read_fd, daemon=True).start()

    def _got(self, data):
        with self._lock:
            self.times.append((time.monotonic(), len(self._bytes)))
            self._bytes += data
            self._lock.notify_all()

    def _read_fd(self):
        while True:
            try:
                data = os.read(self._fd, 4096)
            except OSError:
                return
            if not data:
                return
            self._got(data)

    def serve(self, conn):
        """Reads one connection to its end (QEMU connects again after a re-plug)."""
        def read():
            while True:
                try:
                    data = conn.recv(4096)
                except OSError:
                    return
                if not data:
                    return
                self._got(data)
        threading.Thread(target=read, daemon=True).start()

    def received(self):
        with self._lock:
            return bytes(self._bytes)

    def clear(self):
        with self._lock:
            self._bytes.clear()
            self.times.clear()

    def wait_for(self, count, timeout=5.0, settle=0.0):
        """The bytes once `count` have come (or at the timeout), after `settle` s more."""
        end = time.monotonic() + timeout
        with self._lock:
            while len(self._bytes) < count and time.monotonic() < end:
                self._lock.wait(max(0.0, end - time.monotonic()))
        if settle:
            time.sleep(settle)
        return self.received()

    def first_at(self):
        with self._lock:
            return self.times[0][0] if self.times else None


class Listener:
    """A unix socket QEMU connects to as a client, every connection read into one FarEnd."""

    def __init__(self, path, end):
        self.path = str(path)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.bind(self.path)
        winenv.chown_to_user(self.path)
        self.sock.listen(4)
        self.end = end
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.end.serve(conn)

    def close(self):
        self.sock.close()


class CliResult:
    def __init__(self, code, seconds, stdout, stderr):
        self.returncode, self.elapsed, self.stdout, self.stderr = code, seconds, stdout, stderr

    def records(self):
        return [json.loads(line) for line in self.stdout.splitlines()]


class Guest:
    """One boot; every port of the module docstring, brandcli at /brandcli, each of `extra` (host
    paths of static programs) at / under its own name."""

    def __init__(self, brandcli, extra=()):
        winenv.check_serial_devices_closed()
        for tool in (QEMU, BUSYBOX, "/usr/bin/cpio"):
            if not os.path.exists(tool):
                raise HarnessVmError("%s is missing (tools/setup.sh installs it)" % tool)
        vmlinuz, modules = kernel_dir()
        self.folder = winenv.user_dir("brand-vm-")
        os.chmod(self.folder, 0o755)
        self._proc = None
        self._listeners = []
        self._qmp = None
        self._marker = 0
        self._ctl_closed = False
        self._events = []
        self._ctl = None
        try:
            self._start(vmlinuz, make_initramfs(self.folder, brandcli, modules, extra))
        except BaseException:
            self.close()
            raise

    def _start(self, vmlinuz, initramfs):
        self.ends = {name: FarEnd() for name in ("uart", "ftdi", "acm")}
        for name in ("uart", "ftdi", "acm"):
            self._listeners.append(Listener(self.folder / name, self.ends[name]))
        # The not-ready device: a pty whose far end the host holds.
        master, slave = pty.openpty()
        tty.setraw(master)
        tty.setraw(slave)
        self._pty = (master, slave)
        slave_path = os.ttyname(slave)
        winenv.assert_safe_tty_path(slave_path)
        winenv.chown_to_user(slave_path)
        self.ends["cts"] = FarEnd(master)
        self._ctl = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._ctl.bind(str(self.folder / "ctl"))
        winenv.chown_to_user(str(self.folder / "ctl"))
        self._ctl.listen(1)
        qmp = self.folder / "qmp"
        command = [
            QEMU, "-accel", "tcg", "-nodefaults", "-display", "none", "-m", "256", "-no-reboot",
            "-kernel", str(vmlinuz), "-initrd", str(initramfs),
            "-append", "console=ttyS0 quiet loglevel=1 panic=-1 8250.nr_uarts=6",
            "-chardev", "stdio,id=con,signal=off", "-serial", "chardev:con",
            "-chardev", "socket,id=uart,path=%s" % (self.folder / "uart"),
            "-device", "isa-serial,chardev=uart,index=1",
            "-chardev", "socket,id=acm,path=%s" % (self.folder / "acm"),
            "-device", "pci-serial,chardev=acm,addr=0x10",
            "-chardev", "serial,id=cts,path=%s" % slave_path,
            "-device", "pci-serial,chardev=cts,addr=0x11",
            "-device", "qemu-xhci,id=xhci",
            "-chardev", "socket,id=ctl,path=%s" % (self.folder / "ctl"),
            "-device", "virtio-serial-pci", "-device", "virtserialport,chardev=ctl,name=ctl",
            "-qmp", "unix:%s,server=on,wait=off" % qmp,
        ]
        self.boot_started = time.monotonic()
        self._proc = subprocess.Popen(winenv.as_user(command), stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd="/")
        self._console = bytearray()
        threading.Thread(target=self._read_console, daemon=True).start()
        self._ctl.settimeout(BOOT_TIMEOUT)
        try:
            self._ctl_conn = self._ctl.accept()[0]
        except socket.timeout:
            raise HarnessVmError("QEMU did not start; it printed:\n%s" % self.console())
        self._out = bytearray()
        self._out_cond = threading.Condition()
        threading.Thread(target=self._read_ctl, daemon=True).start()
        self._ctl_conn.sendall(b"echo rig-ready\n")
        self._expect(b"rig-ready\n", BOOT_TIMEOUT)
        self.booted = time.monotonic()
        self._qmp = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._qmp.connect(str(qmp))
        self._qmp_file = self._qmp.makefile("rwb")
        self._qmp_file.readline()
        self.qmp("qmp_capabilities")
        self.relay, self.cts_low = (self._pci_tty(slot) for slot in ("10", "11"))
        self.sh("stty -F %s raw -echo; chmod 666 /dev/ttyS1 %s" % (self.relay, self.cts_low))

    def _pci_tty(self, slot):
        name = self.sh("ls /sys/bus/pci/devices/0000:00:%s.0/tty" % slot).strip()
        if not re.fullmatch(r"ttyS\d+", name):
            raise HarnessVmError("the pci-serial port at %s did not appear: %r" % (slot, name))
        return "/dev/" + name

    def _read_console(self):
        while True:
            data = self._proc.stdout.read1(4096)
            if not data:
                return
            self._console += data

    def console(self):
        """What the kernel and init printed (the last 3000 characters)."""
        return bytes(self._console[-3000:]).decode(errors="replace")

    def _read_ctl(self):
        while True:
            try:
                data = self._ctl_conn.recv(4096)
            except OSError:
                data = b""
            with self._out_cond:
                if not data:
                    self._ctl_closed = True
                    self._out_cond.notify_all()
                    return
                self._out += data
                self._out_cond.notify_all()

    def _expect(self, marker, timeout):
        """The console's output up to `marker`, which is consumed with it."""
        end = time.monotonic() + timeout
        with self._out_cond:
            while marker not in self._out:
                left = end - time.monotonic()
                if left <= 0 or self._proc.poll() is not None or self._ctl_closed:
                    raise HarnessVmError("the guest did not print %r within %.0f s; its shell "
                                         "printed:\n%s\nits console:\n%s" % (
                                             marker, timeout, self._out.decode(
                                                 errors="replace")[-2000:], self.console()))
                self._out_cond.wait(min(left, 0.5))
            at = self._out.index(marker)
            text = bytes(self._out[:at])
            del self._out[:at + len(marker)]
        return text.decode(errors="replace")

    def sh(self, command, timeout=30):
        """Runs `command` in the guest's shell; its output (stdout and stderr)."""
        assert "\n" not in command, "one line a command"
        self._marker += 1
        marker = "@@done%d@@" % self._marker
        self._ctl_conn.sendall(("%s\necho %s\n" % (command, marker)).encode())
        return self._expect(marker.encode() + b"\n", timeout)

    def cli(self, args, user="line", timeout=30):
        text = self.sh("cli %s %s" % (user, " ".join(str(a) for a in args)), timeout)
        head, rest = text.split("@@cli ", 1)
        status, rest = rest.split("\n", 1)
        out, rest = rest.split("@@err\n", 1)
        err = rest.split("@@end\n", 1)[0]
        code, centis = status.split()
        return CliResult(int(code), int(centis) / 100.0, out, err)

    def qmp(self, command, **arguments):
        message = {"execute": command}
        if arguments:
            message["arguments"] = arguments
        self._qmp_file.write(json.dumps(message).encode() + b"\n")
        self._qmp_file.flush()
        while True:
            reply = json.loads(self._qmp_file.readline())
            if "error" in reply:
                raise HarnessVmError("QMP %s: %s" % (command, reply["error"]))
            if "return" in reply:
                return reply["return"]
            self._events.append(reply)

    def plug_ftdi(self, name="ftdi", serial=FTDI_SERIAL):
        """QEMU's FTDI on the xhci bus, its far end ends[name]."""
        self.qmp("chardev-add", id=name, backend={"type": "socket", "data": {
            "addr": {"type": "unix", "data": {"path": str(self.folder / name)}},
            "server": False}})
        self.qmp("device_add", driver="usb-serial", id=name, chardev=name, serial=serial,
                 bus="xhci.0")

    def unplug_ftdi(self, name="ftdi"):
        self.qmp("device_del", id=name)
        self._wait_event("DEVICE_DELETED", name)
        self.qmp("chardev-remove", id=name)

    def _wait_event(self, event, device, timeout=10):
        self._qmp.settimeout(timeout)
        try:
            while not any(e["event"] == event and e.get("data", {}).get("device") == device
                          for e in self._events):
                self._events.append(json.loads(self._qmp_file.readline()))
        except socket.timeout:
            raise HarnessVmError("no %s for %s within %d s" % (event, device, timeout))
        finally:
            self._qmp.settimeout(None)
        self._events.clear()

    def plug_acm(self, reading=False):
        """The CDC-ACM gadget; `reading`: its own end open before the host side sees it."""
        self.sh("insmod /lib/rig/g_serial.ko iSerialNumber=%s iManufacturer=Rig "
                "iProduct=Gadget" % ACM_SERIAL)
        if reading:
            self.acm_reads(True)

    def unplug_acm(self):
        self.sh("rmmod g_serial")

    def acm_reads(self, on):
        """The device's own end open and copied to the relay, or closed: a device that does not
        read."""
        if on:
            self.sh("stty -F /dev/ttyGS0 raw -echo; cat /dev/ttyGS0 > %s & acmcat=$!" % self.relay)
        else:
            self.sh("kill $acmcat; wait $acmcat 2>/dev/null")

    def wait_node(self, path, timeout=10):
        self.sh("i=0; while [ ! -e %s ] && [ $i -lt %d ]; do sleep 0.05; i=$((i+1)); done; "
                "chmod 666 %s" % (path, timeout * 20, path), timeout + 5)

    def close(self):
        if self._proc and self._proc.poll() is None:
            try:
                getattr(self, "_ctl_conn", None) and self._ctl_conn.sendall(b"poweroff -f\n")
                self._proc.wait(timeout=5)
            except (OSError, subprocess.TimeoutExpired):
                self._proc.kill()
                self._proc.wait()
        if self._qmp:
            self._qmp.close()
        if self._ctl:
            self._ctl.close()
        for listener in self._listeners:
            listener.close()
        for fd in getattr(self, "_pty", ()):
            try:
                os.close(fd)
            except OSError as e:
                if e.errno != errno.EBADF:
                    raise
        shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
