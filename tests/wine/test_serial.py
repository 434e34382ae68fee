"""The serial layer and the console front end under Wine, with COM ports mapped to ptys and the
fake device on the far end of each.

Runs the x86_64 build (build/win64, or BRAND_BUILD_WIN64). Every Wine process and pty belongs
to the unprivileged test user; see harness/winenv.py.
"""

import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "harness"))

import winenv  # noqa: E402
from fake_device import FakeDevice  # noqa: E402

BRAND = b"VANDREL8"  # the brand the console's list offers
BRAND_FRAME = b"BR" + BRAND + b";" + b"\0" * 5
CODE_FRAME = b"DTV3;"

PORT = 5  # the main device
HIGH_PORT = 12  # a two-digit port: needs the \\.\ device prefix to open
GONE_PORT = 7  # its device goes away
UNOPENABLE_PORT = 9


def probe_exe():
    return winenv.build_dir("win64") / "tests" / "wine" / "serial_probe.exe"


def console_exe():
    return winenv.build_dir("win64") / "tools" / "brand_console.exe"


@pytest.fixture(scope="module")
def session():
    for exe in (probe_exe(), console_exe()):
        if not exe.exists():
            pytest.fail("%s is not built (tools/test.sh builds it)" % exe)
    return winenv.shared_session()


@pytest.fixture(scope="module")
def programs(session):
    return session.install(probe_exe(), console_exe())


@pytest.fixture(scope="module")
def rig(session):
    """One prefix with four ports: three fake devices and one tty the test user cannot open."""
    devices = {PORT: FakeDevice(), HIGH_PORT: FakeDevice(), GONE_PORT: FakeDevice()}
    locked = winenv.UnopenableTty()
    prefix = session.new_prefix("serial")
    for number, device in devices.items():
        prefix.map_port(number, device.path, restart=False)
    prefix.map_port(UNOPENABLE_PORT, locked.path, restart=False)
    prefix.restart_server()
    yield prefix, devices, locked
    prefix.close()
    for device in devices.values():
        device.stop()
    locked.close()


@pytest.fixture
def devices(rig):
    _, devs, _ = rig
    for d in devs.values():
        d.clear()
    return devs


def run_probe(prefix, programs, *args, **kw):
    result = prefix.run([programs[0]] + [str(a) for a in args], **kw)
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


def lines_starting(lines, word):
    return [line.strip() for line in lines if line.startswith(word + " ")]


def test_discovery_lists_the_registered_ports_in_registry_order(rig, programs):
    # Every value here is Wine's own "COMn"; odd data, and values added while the server runs,
    # are the fault tests' (test_registry_data.py).
    prefix, _, _ = rig
    ports = lines_starting(run_probe(prefix, programs, "list"), "PORTS")
    assert [p.split()[1:] for p in ports] == [[data[3:] for _, data in prefix.serialcomm()]]
    for number in (PORT, HIGH_PORT, GONE_PORT, UNOPENABLE_PORT):
        assert str(number) in ports[0].split()


def test_both_frames_arrive_exactly(rig, devices, programs):
    prefix, _, _ = rig
    # The pause lets the device read the first frame before the next open purges the line.
    lines = run_probe(prefix, programs, "brand", PORT, BRAND.decode(), "sleep", 300, "code", PORT,
                      "V3")
    write = lines_starting(lines, "WRITE")
    assert [w.split(" ms=")[0] for w in write] == [
        "WRITE %d bytes=16 result=1" % PORT, "WRITE %d bytes=5 result=1" % PORT], lines
    assert devices[PORT].wait_for(len(BRAND_FRAME + CODE_FRAME)) == BRAND_FRAME + CODE_FRAME
    for other in (HIGH_PORT, GONE_PORT):
        assert devices[other].received() == b""


def test_configure_sets_38400_one_stop_bit_and_cts_flow(rig, devices, programs):
    prefix, _, _ = rig
    path = devices[PORT].path
    # Start from other settings, so the change is the program's doing.
    subprocess.run(["stty", "-F", path, "9600", "cstopb", "-crtscts"], check=True)
    before = subprocess.run(["stty", "-F", path, "-a"], capture_output=True, text=True).stdout
    assert "speed 9600" in before and " cstopb" in before and "-crtscts" in before

    # A pty shows speed, stop bits and flow control; what the program hands SetCommState and
    # SetCommTimeouts, data bits and parity included, is checked by the native tests.
    run_probe(prefix, programs, "configure", PORT)
    after = subprocess.run(["stty", "-F", path, "-a"], capture_output=True, text=True).stdout
    assert "speed 38400 baud" in after
    assert "-cstopb" in after
    assert re.search(r"(^|\s)crtscts", after)
    assert devices[PORT].wait_for(0, settle=0.3) == b""


def test_two_digit_port_opens_and_receives(rig, devices, programs):
    prefix, _, _ = rig
    lines = run_probe(prefix, programs, "open", HIGH_PORT, "brand", HIGH_PORT, "ABCDEFGH")
    assert lines_starting(lines, "OPEN") == ["OPEN %d ok" % HIGH_PORT]
    assert devices[HIGH_PORT].wait_for(16) == b"BRABCDEFGH;" + b"\0" * 5
    assert devices[PORT].received() == b""


def test_blocked_device_ends_the_write_after_the_wait_and_the_next_frame_arrives_whole(
    rig, devices, programs
):
    prefix, _, _ = rig
    device = devices[PORT]
    device.block()
    try:
        lines = run_probe(prefix, programs, "brand", PORT, BRAND.decode())
    finally:
        device.unblock()
    write = lines_starting(lines, "WRITE")
    assert len(write) == 1 and "result=0" in write[0], lines
    ms = int(write[0].split("ms=")[1])
    assert 900 <= ms <= 2000, write
    # The cancelled frame must not trickle out once the line flows again.
    assert device.wait_for(1, timeout=1.0, settle=0.3) == b""

    run_probe(prefix, programs, "code", PORT, "V3")
    assert device.wait_for(len(CODE_FRAME)) == CODE_FRAME


def test_write_to_a_device_that_went_away_returns(rig, devices, programs):
    prefix, _, _ = rig
    devices[GONE_PORT].close_far_end()
    lines = run_probe(prefix, programs, "brand", GONE_PORT, BRAND.decode(), timeout=20)
    write = lines_starting(lines, "WRITE")
    assert len(write) == 1
    assert int(write[0].split("ms=")[1]) <= 2000


@pytest.mark.parametrize("lang", [winenv.LANG_WESTERN, winenv.LANG_CHINESE])
def test_console_sends_both_frames_end_to_end(rig, devices, programs, lang):
    prefix, _, _ = rig
    result = prefix.run([programs[1], "COM%d" % PORT], lang=lang)
    assert result.returncode == 0, result.stdout + result.stderr
    lines = result.stdout.splitlines()
    assert devices[PORT].wait_for(len(BRAND_FRAME) + len(CODE_FRAME)) == BRAND_FRAME + CODE_FRAME
    assert "STATUS 端口%d打开" % PORT in lines
    assert "BUTTONS enabled" in lines
    assert lines_starting(lines, "STATUS")[-1] == "STATUS 端口关闭"
    assert lines[-1] == "END"
    for other in (HIGH_PORT, GONE_PORT):
        assert devices[other].received() == b""


def test_console_on_an_unopenable_port_sends_nothing(rig, devices, programs):
    prefix, _, _ = rig
    result = prefix.run([programs[1], "COM%d" % UNOPENABLE_PORT])
    lines = result.stdout.splitlines()
    assert "STATUS 打开端口%d失败！" % UNOPENABLE_PORT in lines
    assert lines_starting(lines, "BUTTONS")[-1] == "BUTTONS disabled"
    assert lines[-1] == "END"
    for device in devices.values():
        assert device.wait_for(1, timeout=0.5, settle=0) == b""
