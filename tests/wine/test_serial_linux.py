"""The native Linux brandcli against ptys with the fake device on the far end, run as the
unprivileged test user: the x86_64 build for everything, the arm64 and armhf builds (under
qemu-user) for the frame and the stopped device. The checks the Windows build shares are those
of test_serial.py, with ports as paths. Last, the x86_64 build on the kernel's own drivers (8250,
ftdi_sio, cdc_acm) in one boot of a virtual machine (harness/vm.py), whose cases run in order.
"""

import contextlib
import fcntl
import hashlib
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import termios
import time

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "harness"))

import linuxenv  # noqa: E402
import source_tree  # noqa: E402
import vm  # noqa: E402
import winenv  # noqa: E402
from fake_device import FakeDevice  # noqa: E402
from test_serial import BRAND_FRAME, CODE_FRAME, ROOT, failure  # noqa: E402

IN_USE = "could not open the port (in use by another program)"
NOT_SERIAL = "not a serial port"


@pytest.fixture(scope="module")
def clis():
    made = {}

    def get(arch):
        if arch not in made:
            made[arch] = linuxenv.LinuxCli(arch)
        return made[arch]

    yield get
    for cli in made.values():
        cli.close()


@pytest.fixture
def folder():
    """A folder the test user can reach (pytest's own are root's alone)."""
    path = winenv.user_dir("brand-linux-test-")
    yield path
    shutil.rmtree(path, ignore_errors=True)


@pytest.fixture
def device():
    with FakeDevice() as d:
        yield d


@pytest.mark.parametrize("arch", linuxenv.ARCHES)
def test_both_frames_exact_with_the_settings_read_back_then_a_stopped_device_gives_5(
        clis, device, arch):
    cli = clis(arch)
    device.stty("9600", "cstopb", "-crtscts")
    for command, frame in (("brand", BRAND_FRAME), ("code", CODE_FRAME)):
        device.clear()
        result = cli.run([command, device.path])
        assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
        assert device.wait_for(len(frame)) == frame
    line = device.stty("-a")
    assert "speed 38400 baud" in line and "-cstopb" in line and " crtscts" in line

    device.clear()
    device.block()
    try:
        result = cli.run(["brand", device.path])
    finally:
        device.unblock()
    assert failure(result, 5).startswith(device.path + ": the frame was not written whole")
    # qemu adds its own start to the wait.
    assert 0.9 <= result.elapsed <= (2.0 if arch == "x86_64" else 4.0), result.elapsed
    assert device.wait_for(1, timeout=1.0, settle=0.3) == b""
    assert cli.run(["code", device.path]).returncode == 0
    assert device.wait_for(len(CODE_FRAME)) == CODE_FRAME


def test_port_held_by_another_program_gives_4_and_gets_nothing(clis, device):
    holder = os.open(device.path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
        assert failure(clis("x86_64").run(["brand", device.path]), 4) == "%s: %s" % (
            device.path, IN_USE)
        fcntl.flock(holder, fcntl.LOCK_UN)
        fcntl.ioctl(holder, termios.TIOCEXCL)  # the test user's open now fails with EBUSY
        assert failure(clis("x86_64").run(["code", device.path]), 4) == "%s: %s" % (
            device.path, IN_USE)
    finally:
        os.close(holder)
    assert device.wait_for(1, timeout=0.5, settle=0) == b""


def test_null_device_and_plain_file_give_4_and_are_never_opened(clis, folder):
    # A node of its own for /dev/null's device, so that other programs' opens of /dev/null do
    # not count.
    null = folder / "null"
    os.mknod(null, 0o666 | 0o020000, os.makedev(1, 3))
    plain = folder / "plain"
    plain.write_bytes(b"")
    for path in (null, plain):
        os.chmod(path, 0o666)
        watch = linuxenv.OpenWatch(path)
        try:
            result = clis("x86_64").run(["brand", path])
            assert failure(result, 4) == "%s: %s" % (path, NOT_SERIAL)
            assert watch.opens() == 0
        finally:
            watch.close()
    assert plain.read_bytes() == b""


def test_the_callers_own_terminal_is_never_a_port(clis):
    # Under a controlling terminal (script's pty): /dev/tty, then that pty by name, as stdio and
    # with stdio elsewhere. Sent to, it would show the frame and be left raw.
    cli = str(clis("x86_64").path)
    shell = ('stty -g; for p in /dev/tty "$(tty)"; do %s brand "$p"; echo "rc=$?"; done; '
             '%s code "$(tty)" </dev/null >/dev/null 2>&1; echo "rc=$?"; stty -g' % (cli, cli))
    out = subprocess.run(winenv.as_user(["script", "-qec", shell, "/dev/null"]), timeout=20,
                         stdin=subprocess.DEVNULL, capture_output=True, text=True).stdout
    lines = out.replace("\r\n", "\n").splitlines()
    pty = lines[3].split(":")[0]
    assert pty.startswith("/dev/pts/"), lines
    assert lines[1:-1] == ["/dev/tty: " + NOT_SERIAL, "rc=4", pty + ": " + NOT_SERIAL, "rc=4",
                           "rc=4"]
    assert lines[0] == lines[-1]


def test_watch_in_a_relative_folder_made_after_the_start_sends_once_per_new_terminal(
        clis, folder):
    made = folder / "by-id" / "sub"  # neither exists yet; named relative to the working folder
    waiting = clis("x86_64").spawn(["watch", "code", "--in", "nosuch"], cwd=folder)
    try:
        time.sleep(0.3)
        waiting.send_signal(signal.SIGTERM)
        assert waiting.wait(timeout=1.0) == 0  # it waited for the folder, and ended when told
    finally:
        waiting.kill()
    with FakeDevice() as first, FakeDevice() as second:
        proc = clis("x86_64").spawn(["watch", "code", "--in", "by-id/sub", "--json"], cwd=folder)
        time.sleep(0.5)
        made.mkdir(parents=True)
        (made / "not-a-port").symlink_to("/dev/null")
        (made / "usb-first").symlink_to(first.path)
        assert first.wait_for(len(CODE_FRAME)) == CODE_FRAME
        (made / "usb-second").symlink_to(second.path)
        assert second.wait_for(len(CODE_FRAME)) == CODE_FRAME
        start = time.monotonic()
        proc.send_signal(signal.SIGTERM)
        out, err = proc.communicate(timeout=10)
        assert time.monotonic() - start <= 1.0
        assert proc.returncode == 0, err
        assert [json.loads(r)["port"] for r in out.splitlines()] == [
            str(made / "usb-first"), str(made / "usb-second")]
        assert first.received() == CODE_FRAME


def proc_figures(pid, idle=None):
    """Resident KB, memory maps, threads and descriptors of a process, once its threads and
    descriptors are back to `idle`'s (within 2 s)."""
    for _ in range(400):
        status = dict(line.split(":", 1) for line in open("/proc/%d/status" % pid))
        with open("/proc/%d/maps" % pid) as maps:
            now = {"rss": int(status["VmRSS"].split()[0]), "maps": len(maps.readlines()),
                   "threads": int(status["Threads"]), "fds": len(os.listdir("/proc/%d/fd" % pid))}
        if not idle or (now["threads"], now["fds"]) == (idle["threads"], idle["fds"]):
            return now
        time.sleep(0.005)
    return now


def test_a_long_watch_holds_only_its_sends_in_flight(clis, folder):
    # 3,000 devices, each a new link to one of a few ptys, made once that pty has read the frame
    # before (a send purges what the far end has not read yet); the link before it then goes.
    # Records and lines go to files: a full pipe would stop the watch.
    total, ptys, figures = 3000, 8, {}
    with contextlib.ExitStack() as stack:
        devices = [stack.enter_context(FakeDevice()) for _ in range(ptys)]
        out, err = (stack.enter_context(tempfile.TemporaryFile("w+")) for _ in range(2))
        proc = clis("x86_64").spawn(["watch", "code", "--in", folder, "--json"], stdout=out,
                                    stderr=err)
        stack.callback(proc.kill)
        while os.fstat(err.fileno()).st_size == 0:
            time.sleep(0.01)  # until it waits
        figures["idle"] = proc_figures(proc.pid)
        for i in range(total + ptys):
            device = devices[i % ptys]
            received = device.wait_for(len(CODE_FRAME) * (i // ptys), settle=0)
            assert received == CODE_FRAME * (i // ptys), i
            if i == 300:
                figures[i] = proc_figures(proc.pid, figures["idle"])
            if i >= ptys:
                (folder / ("d%d" % (i - ptys))).unlink()
            if i < total:
                (folder / ("d%d" % i)).symlink_to(device.path)
        figures[total] = proc_figures(proc.pid, figures["idle"])  # every frame is in
        proc.send_signal(signal.SIGTERM)
        assert proc.wait(timeout=5) == 0
        out.seek(0)
        assert [json.loads(r)["result"] for r in out] == ["sent"] * total
    print(figures, "memory per device after the first 300: %.1f bytes" % (
        (figures[total]["rss"] - figures[300]["rss"]) * 1024.0 / (total - 300)))
    # Growth only up to what the most sends at once can leave for the next ones: per send in
    # flight, a thread stack glibc keeps (with its guard) and a malloc arena. Each device kept
    # costs a stack's 2 maps and about 15 KB.
    assert figures[total]["rss"] <= figures[300]["rss"] + 256, figures
    assert figures[total]["maps"] <= figures[300]["maps"] + 3 * ptys, figures
    for i in (300, total):
        assert (figures[i]["threads"], figures[i]["fds"]) == (
            figures["idle"]["threads"], figures["idle"]["fds"]), i


@pytest.mark.parametrize("arch", linuxenv.ARCHES)
def test_release_tarball_holds_the_tested_program_and_its_sums(arch):
    # The cases above run build/linux-<arch>; the release must ship those very bytes.
    folder = "Brand-%s-linux-%s" % (source_tree.label(ROOT), arch)
    with tarfile.open(ROOT / "dist" / (folder + ".tar.gz")) as tar:
        members = tar.getmembers()
        assert [m.name for m in members] == [folder] + [
            folder + "/" + name for name in ("LICENSE", "README.txt", "SHA256SUMS", "brandcli")]
        assert {(m.uid, m.gid) for m in members} == {(0, 0)}
        files = {m.name.split("/")[1]: tar.extractfile(m).read() for m in members[1:]}
    assert files["brandcli"] == (linuxenv.build_dir(arch) / "brandcli").read_bytes()
    assert files["SHA256SUMS"].decode().splitlines() == [
        "%s  %s" % (hashlib.sha256(files[name]).hexdigest(), name)
        for name in ("LICENSE", "README.txt", "brandcli")]


NOT_WRITTEN = "the frame was not written"  # then " whole (...)", or ": ... (CTS held low)"


@pytest.fixture(scope="module")
def guest():
    build = linuxenv.build_dir("x86_64")
    with vm.Guest(build / "brandcli", extra=(build / "port_holder",)) as g:
        g.plug_ftdi()
        g.plug_acm()  # its own end never opened yet: a device that does not read
        g.wait_node("/dev/ttyUSB0")
        g.wait_node("/dev/ttyACM0")
        yield g


def not_written(result, port):
    """A failed one-port send of the brand frame, --json: its line and its record."""
    assert result.returncode == 5, (result.returncode, result.stderr)
    assert result.stderr.startswith(port + ": " + NOT_WRITTEN), result.stderr
    [record] = result.records()
    assert (record["port"], record["result"], record["exit"]) == (port, "not-written", 5)
    assert 0.9 <= result.elapsed <= 1.5, result.elapsed


def test_vm_ports_name_the_usb_devices_and_leave_out_8250s_without_hardware(guest):
    records = {r["port"]: r for r in guest.cli(["ports", "--json"]).records()}
    assert guest.cli(["ports"]).stdout.splitlines() == list(records)
    ftdi, acm = records["/dev/ttyUSB0"], records["/dev/ttyACM0"]
    assert (ftdi["driver"], ftdi["vid"], ftdi["pid"], ftdi["serial"]) == (
        "ftdi_sio", "0403", "6001", vm.FTDI_SERIAL)
    assert (acm["driver"], acm["vid"], acm["pid"], acm["serial"]) == (
        "cdc_acm", "0525", "a4a7", vm.ACM_SERIAL)
    assert {"/dev/ttyS1", guest.cts_low} <= set(records)
    assert not {"/dev/ttyS2", "/dev/ttyS3"} & set(records)  # placeholders


def test_vm_device_that_does_not_take_the_frame_gives_5_within_the_deadline_and_gets_none(guest):
    # cdc_acm: the frame stays in a USB transfer no flush takes back; 8250: CTS held low.
    for port, user in ((guest.cts_low, "line"), ("/dev/ttyACM0", "line"),
                       ("/dev/ttyACM0", "root")):
        not_written(guest.cli(["brand", port, "--json"], user=user), port)
    guest.acm_reads(True)  # the device reads from now on: nothing of the frames may come
    assert guest.ends["acm"].wait_for(1, timeout=0.5) == b""
    assert guest.ends["cts"].received() == b""


def test_vm_port_another_program_holds_gives_4_to_root_too_and_keeps_its_hold(guest):
    # TIOCEXCL alone, as ModemManager probing a device holds it: root's open still succeeds.
    guest.sh("/port_holder /dev/ttyS1 >/tmp/h.o 2>&1 & h=$!; "
             "while [ ! -s /tmp/h.o ] && kill -0 $h; do sleep 0.05; done")
    result = guest.cli(["brand", "/dev/ttyS1", "--json"], user="root")
    held = guest.sh("kill -USR1 $h; wait $h; cat /tmp/h.o").splitlines()
    assert (result.returncode, result.stderr) == (4, "/dev/ttyS1: %s\n" % IN_USE)
    [record] = result.records()
    assert (record["port"], record["result"], record["exit"]) == ("/dev/ttyS1", "not-opened", 4)
    assert held == ["held", "excl 1"]  # the other program's hold outlived brandcli
    assert guest.ends["uart"].wait_for(1, timeout=0.3) == b""


def test_vm_both_frames_exact_on_each_driver_with_the_line_read_back(guest):
    for port, end in (("/dev/ttyS1", "uart"), ("/dev/ttyUSB0", "ftdi"), ("/dev/ttyACM0", "acm")):
        for command, frame in (("brand", BRAND_FRAME), ("code", CODE_FRAME)):
            guest.ends[end].clear()
            result = guest.cli([command, port])
            assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
            assert guest.ends[end].wait_for(len(frame)) == frame, port
        line = guest.sh("stty -a -F " + port)
        assert "speed 38400 baud" in line and "cs8" in line, line
        assert {"-parenb", "-cstopb", "crtscts"} <= set(line.split()), line
    # cdc_acm counts whole transfer buffers as queued: the wait must follow the queue down.
    records = [guest.cli(["brand", "/dev/ttyACM0", "--json"]).records()[0] for _ in range(5)]
    assert [r["result"] for r in records] == ["sent"] * 5
    assert max(r["ms"] for r in records) <= 150, [r["ms"] for r in records]


def test_vm_device_unplugged_mid_send_gives_5_and_one_gone_before_gives_4(guest):
    guest.acm_reads(False)
    guest.unplug_acm()
    guest.plug_acm()  # its own end not open: the send waits on it
    guest.wait_node("/dev/ttyACM0")
    guest.sh("/brandcli brand /dev/ttyACM0 >/tmp/u.o 2>/tmp/u.e & u=$!; sleep 0.3; rmmod g_serial")
    assert guest.sh("wait $u; echo $?; cat /tmp/u.o /tmp/u.e", timeout=5).splitlines() == [
        "5", "/dev/ttyACM0: " + NOT_WRITTEN + " whole (the device did not take it within 1 s, or "
        "the write failed)"]
    guest.unplug_ftdi()
    assert failure(guest.cli(["brand", "/dev/ttyUSB0"]), 4).startswith(
        "/dev/ttyUSB0: could not open the port")


def test_vm_watch_on_dev_sends_once_to_each_device_plugged_in(guest):
    for end in guest.ends.values():
        end.clear()
    for only, count in ((None, 4), ("ftdi_sio", 1)):
        guest.sh("/brandcli watch brand --json --count %d %s >/tmp/w.o 2>/tmp/w.e & w=$!; "
                 "while [ ! -s /tmp/w.e ]; do sleep 0.05; done" % (
                     count, "--only " + only if only else ""))
        guest.plug_acm(reading=True)
        if only:  # time for a send it must not make
            guest.wait_node("/dev/ttyACM0")
            time.sleep(0.5)
        else:
            assert guest.ends["acm"].wait_for(len(BRAND_FRAME)) == BRAND_FRAME, "cdc_acm"
        guest.plug_ftdi()
        assert guest.ends["ftdi"].wait_for(len(BRAND_FRAME)) == BRAND_FRAME
        guest.ends["ftdi"].clear()
        if not only:  # a device unplugged and plugged again (once its send ended) is new
            guest.sh("while [ $(wc -l </tmp/w.o) -lt 2 ]; do sleep 0.05; done", timeout=5)
            guest.unplug_ftdi()
            guest.plug_ftdi()
            assert guest.ends["ftdi"].wait_for(len(BRAND_FRAME)) == BRAND_FRAME
            guest.sh("while [ $(wc -l </tmp/w.o) -lt 3 ]; do sleep 0.05; done", timeout=5)
            guest.acm_reads(False)
            guest.unplug_acm()
            guest.plug_acm(reading=True)
            assert guest.ends["acm"].wait_for(2 * len(BRAND_FRAME)) == 2 * BRAND_FRAME
        code, out = guest.sh("wait $w; echo $?; cat /tmp/w.o", timeout=5).split("\n", 1)
        assert code == "0", out + guest.sh("cat /tmp/w.e")
        acm, ftdi = "/dev/ttyACM0", "/dev/ttyUSB0"
        assert [json.loads(r)["port"] for r in out.splitlines()] == (
            [ftdi] if only else [acm, ftdi, ftdi, acm])
        guest.unplug_ftdi()
        guest.acm_reads(False)
        guest.unplug_acm()
    # Present at every start, never sent to; and the CDC-ACM device left out by --only.
    assert guest.ends["uart"].received() == b""
    assert guest.ends["acm"].received() == 2 * BRAND_FRAME
