"""brandcli under Wine, and through it the serial layer, with COM ports mapped to ptys and the
fake device on the far end of each: one test for each thing a script relies on.

Runs the shipped 32-bit build, out of the release zip (harness/shipped.py), in a WoW64 prefix.
Every Wine process and pty belongs to the unprivileged test user; see harness/winenv.py.
"""

import json
import pathlib
import re
import sys
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "harness"))
sys.path.insert(0, str(ROOT / "tests" / "wine"))

import cli_rig  # noqa: E402
import planted_devices  # noqa: E402
import shipped  # noqa: E402
import source_tree  # noqa: E402
import winenv  # noqa: E402
from fake_device import FakeDevice  # noqa: E402

BRAND_FRAME = b"BRVANDREL8;" + b"\0" * 5  # the built-in brand
CODE_FRAME = b"DTV3;"

PORT = 5  # the main device
HIGH_PORT = 12  # two digits: opens only with the \\.\ device prefix
UNLISTED_PORT = 123  # three digits, and no registry value: a script may know it before Windows
GONE_PORT = 7  # its device goes away
UNOPENABLE_PORT = 9

# Each failure's one line on stderr: a crash under Wine ends with the low byte of its exception
# code (5 for an access violation), so a code is the program's answer only with its line.
NOT_OPENED = "COM%d: could not open the port (in use or missing)"
NOT_WRITTEN = ("COM%d: the frame was not written whole (the device did not take it within 1 s, "
               "or the write failed)")
CTS_HELD = "the frame was not written: the device did not take it within 1 s (CTS held low)"
USAGE = "usage: brandcli ports | brand COMn... | code COMn... | watch brand|code"

# The program gives a write 1000 ms. Timed from outside, a run also holds Wine's process start
# and exit: tens of milliseconds on an idle machine, more on a loaded one. A --version run in the
# same test is timed too and taken off (waited()), leaving the wait and the port's open, settings
# and close (milliseconds). The bounds catch a program that does not wait (about 0 s) and one
# that waits too long (1.6 s), and leave 0.3 s and 0.4 s for one start being slower than the
# other.
WAITED_SECONDS = (0.7, 1.4)


@pytest.fixture(scope="module")
def rig():
    """One prefix: four ports mapped through the registry (three fake devices and a tty the test
    user cannot open), and COM123 leading to a fourth device without a registry value."""
    session = winenv.shared_session()
    cli = shipped.program(session, "brandcli.exe")
    devices = {n: FakeDevice() for n in (PORT, HIGH_PORT, UNLISTED_PORT, GONE_PORT)}
    locked = winenv.UnopenableTty()
    prefix = session.new_wow64_prefix("serial")
    for number in (PORT, HIGH_PORT, GONE_PORT):
        prefix.map_port(number, devices[number].path, restart=False)
    prefix.map_port(UNOPENABLE_PORT, locked.path, restart=False)
    prefix.restart_server()
    prefix.link_port(UNLISTED_PORT, devices[UNLISTED_PORT].path)
    yield prefix, cli, devices
    prefix.close()
    for device in devices.values():
        device.stop()
    locked.close()


@pytest.fixture
def devices(rig):
    _, _, devs = rig
    for d in devs.values():
        d.clear()
    return devs


def brandcli(rig, *args, **kw):
    prefix, cli, _ = rig
    return prefix.run([cli] + list(args), **kw)


def success(result):
    """The lines on stdout of a run that ended with exit code 0 and printed nothing on stderr."""
    assert (result.returncode, result.stderr) == (0, ""), result
    return result.stdout.splitlines()


def failure(result, code):
    """The one line on stderr of a run that ended with exit code `code` and printed nothing
    else."""
    assert result.returncode == code, (result.returncode, result.stderr)
    assert result.stdout == ""
    lines = result.stderr.splitlines()
    assert len(lines) == 1, lines
    return lines[0]


def waited(rig, result):
    """The seconds `result` took beyond a plain start and exit (a --version run, timed now)."""
    plain = brandcli(rig, "--version")
    assert len(success(plain)) == 1
    print("%s: %.3f s, --version %.3f s" % (" ".join(result.args[1:]), result.elapsed,
                                            plain.elapsed))
    return result.elapsed - plain.elapsed


def test_ports_lists_the_registered_ports_in_registry_order(rig):
    # Every value here is Wine's own "COMn"; odd data (and COM0, left out) are the registry-data
    # tests' (tests/faults/test_registry_data.py).
    prefix, _, _ = rig
    listed = success(brandcli(rig, "ports"))
    assert listed == [data for _, data in prefix.serialcomm()]
    for number in (PORT, HIGH_PORT, GONE_PORT, UNOPENABLE_PORT):
        assert "COM%d" % number in listed


def test_both_frames_arrive_exactly_on_a_line_set_to_38400_1_stop_bit_cts(rig, devices):
    device = devices[PORT]
    # Start from other settings, so the change is the program's doing. Data bits and parity,
    # which a pty does not show, are checked natively, where SetCommState gets them.
    device.stty("9600", "cstopb", "-crtscts")
    for command, frame in (("brand", BRAND_FRAME), ("code", CODE_FRAME)):
        device.clear()
        assert success(brandcli(rig, command, "COM%d" % PORT)) == []
        assert device.wait_for(len(frame)) == frame
    line = device.stty("-a")
    assert "speed 38400 baud" in line and "-cstopb" in line
    assert re.search(r"(^|\s)crtscts", line)
    for number in (HIGH_PORT, UNLISTED_PORT):
        assert devices[number].received() == b""


def test_two_ports_in_one_call_two_and_three_digits_any_case_listed_or_not(rig, devices):
    # Each port on a thread of its own: the 32-bit process's threads at work at once.
    assert success(brandcli(rig, "brand", "com%d" % HIGH_PORT, "Com%d" % UNLISTED_PORT)) == []
    for number in (HIGH_PORT, UNLISTED_PORT):
        assert devices[number].wait_for(len(BRAND_FRAME)) == BRAND_FRAME
    assert devices[PORT].received() == b""


def test_blocked_device_gives_5_after_the_wait_and_the_next_frame_arrives_whole(rig, devices):
    device = devices[PORT]
    device.block()
    try:
        result = brandcli(rig, "brand", "COM%d" % PORT)
    finally:
        device.unblock()
    assert failure(result, 5) == NOT_WRITTEN % PORT
    low, high = WAITED_SECONDS
    seconds = waited(rig, result)
    assert low <= seconds <= high, "brandcli on a blocked line waited %.3f s" % seconds
    # The cancelled frame must not trickle out once the line flows again.
    assert device.wait_for(1, timeout=1.0, settle=0.3) == b""

    assert success(brandcli(rig, "code", "COM%d" % PORT)) == []
    assert device.wait_for(len(CODE_FRAME)) == CODE_FRAME


def test_device_holding_cts_low_gets_nothing_and_5_after_the_wait(rig, devices):
    # A pty has no modem lines (Wine's read of them fails, and brandcli then writes as before):
    # the preloaded shim gives this one CTS as a device would hold it. The shim is an x86_64
    # library, which only a 64-bit Wine process loads, so this case runs the x86_64 brandcli
    # (the same sources) in the same prefix.
    shim = winenv.build_dir("native") / "libcts_shim.so"
    cli = winenv.build_dir("win64") / "brandcli.exe"
    for built in (shim, cli):
        if not built.exists():
            pytest.fail("%s is not built (tools/test.sh builds it)" % built)
    session = winenv.shared_session()
    rig = (rig[0], session.install(cli), rig[2])
    device = devices[PORT]
    lines = {"LD_PRELOAD": str(session.install(shim)), "BRAND_CTS_PTY": device.path}
    result = brandcli(rig, "brand", "COM%d" % PORT, extra_env=dict(lines, BRAND_CTS="off"))
    assert failure(result, 5) == "COM%d: %s" % (PORT, CTS_HELD)
    low, high = WAITED_SECONDS
    assert low <= waited(rig, result) <= high
    assert success(brandcli(rig, "code", "COM%d" % PORT, extra_env=dict(lines, BRAND_CTS="on"))) == []
    assert device.wait_for(len(CODE_FRAME), settle=0.2) == CODE_FRAME  # and no brand frame before


def test_unopenable_port_gives_4_and_sends_nothing(rig, devices):
    # Wine does not enforce exclusive opens, so a port held by another program is a tty the test
    # user may not open.
    line = failure(brandcli(rig, "brand", "COM%d" % UNOPENABLE_PORT), 4)
    assert line == NOT_OPENED % UNOPENABLE_PORT
    for device in devices.values():
        assert device.wait_for(1, timeout=0.5, settle=0) == b""


def test_device_that_went_away_gives_4_and_is_not_written_to(rig, devices):
    # Under Wine the port of a vanished device still opens, and then refuses every comm call.
    devices[GONE_PORT].close_far_end()
    result = brandcli(rig, "brand", "COM%d" % GONE_PORT, timeout=20)
    assert failure(result, 4) == (
        "COM%d: the port opened but refused the line settings (device gone?)" % GONE_PORT)
    assert waited(rig, result) <= WAITED_SECONDS[1]


def test_bad_arguments_give_2_with_a_usage_line_and_help_names_the_exit_codes(rig, devices):
    for args in ([], ["send", "COM5"], ["brand"], ["brand", "COM05"], ["brand", "--in", "x"],
                 ["code", "COM5", "COM12", "com5"], ["ports", "--count", "1"]):
        line = failure(brandcli(rig, *args), 2)
        assert USAGE in line, args
    assert failure(brandcli(rig, "brand", "COM12", "com12"), 2).startswith(
        'brandcli: "com12": port named twice;')
    for number in (PORT, HIGH_PORT):
        assert devices[number].wait_for(1, timeout=0.5, settle=0) == b""

    assert success(brandcli(rig, "--version")) == ["brandcli " + source_tree.label(ROOT)]
    helped = "\n".join(success(brandcli(rig, "--help")))
    for code in (0, 2, 4, 5, 6, 7):
        assert re.search(r"^ +%d  \S" % code, helped, re.M), "--help misses exit code %d" % code


# -- The cases both builds share: the Windows build under Wine, the Linux build on ptys ---------

@pytest.fixture(scope="module", params=["wine", "linux"])
def station(request):
    made = (cli_rig.WineStation if request.param == "wine" else cli_rig.LinuxStation)()
    yield made
    made.close()


@pytest.fixture
def three():
    with FakeDevice() as a, FakeDevice() as b, FakeDevice() as c:
        yield a, b, c


def test_several_ports_take_their_frames_at_once_each_with_its_record(station, three):
    good, stopped, also_stopped = three
    ports = [station.attach(device) for device in three]
    for device in (stopped, also_stopped):
        device.block()
    before = time.time()
    try:
        result = station.run(["brand"] + ports + ["--json"])
    finally:
        after = time.time()
        for device in (stopped, also_stopped):
            device.unblock()
    assert result.returncode == 6, result.stderr
    assert sorted(result.stderr.splitlines()) == sorted(
        "%s: the frame was not written whole (the device did not take it within 1 s, or the "
        "write failed)" % port for port in ports[1:])
    records = {r["port"]: r for r in map(json.loads, result.stdout.splitlines())}
    assert {port: (r["result"], r["exit"], r["frame"]) for port, r in records.items()} == {
        ports[0]: ("sent", 0, BRAND_FRAME.hex()),
        ports[1]: ("not-written", 5, BRAND_FRAME.hex()),
        ports[2]: ("not-written", 5, BRAND_FRAME.hex())}
    times = {port: cli_rig.record_time(r) for port, r in records.items()}
    assert all(before - 0.01 <= t <= after + 0.01 for t in times.values()), (before, times, after)
    # One after the other, the two stopped ports would end a second apart.
    assert abs(times[ports[1]] - times[ports[2]]) < 0.3, times
    assert all(900 <= records[port]["ms"] <= 1300 for port in ports[1:]), records
    assert good.wait_for(len(BRAND_FRAME)) == BRAND_FRAME
    for device in (stopped, also_stopped):
        assert device.wait_for(1, timeout=0.5, settle=0.3) == b""


def test_watch_sends_once_per_appearance_to_what_it_should(station, three):
    present, plugged, other = three
    station.appear("VCP0", present)
    watch = station.spawn(["watch", "code", "--only", "vcp", "--count", "3", "--json"] +
                          station.watch_args)
    time.sleep(1.0)  # the start, and the listing that holds what was there before
    first = station.appear("VCP1", plugged)
    assert plugged.wait_for(len(CODE_FRAME)) == CODE_FRAME
    station.vanish("VCP1")
    time.sleep(0.3)
    plugged.clear()
    station.appear("VCP1", plugged)
    assert plugged.wait_for(len(CODE_FRAME)) == CODE_FRAME
    station.appear("BthModem0", other)  # left out by --only
    late = station.appear("VCP2", other, ready_after=0.5)
    code, out, err = watch.finish()
    assert code == 0, err
    assert [r["port"] for r in map(json.loads, out.splitlines())] == [first, first, late]
    assert err.splitlines()[1:] == ["%s: took the code frame" % p for p in (first, first, late)]
    assert other.wait_for(len(CODE_FRAME)) == CODE_FRAME  # once: as VCP2, never as BthModem0
    assert present.received() == b""
    assert plugged.received() == CODE_FRAME


def test_an_interrupt_ends_watch_only_after_the_send_in_flight(station, three):
    blocked = three[0]
    blocked.block()
    try:
        watch = station.spawn(["watch", "brand", "--json"] + station.watch_args)
        time.sleep(1.0)
        port = station.appear("VCP7", blocked)
        assert watch.holds(blocked.path), "the send never opened the port"
        start = time.monotonic()
        watch.interrupt()
        code, out, err = watch.finish()
        ended = time.monotonic() - start
    finally:
        blocked.unblock()
    assert code == 6, err
    assert err.splitlines()[1:] == [
        "%s: the frame was not written whole (the device did not take it within 1 s, or the "
        "write failed)" % port]
    assert json.loads(out)["result"] == "not-written"
    assert 0.3 <= ended <= 1.5, ended  # the rest of the 1 s wait, not cut short, not more
    assert blocked.wait_for(1, timeout=1.0, settle=0.3) == b""
    assert station.run(["code", station.attach(blocked)]).returncode == 0  # released
    assert blocked.wait_for(len(CODE_FRAME)) == CODE_FRAME


def test_output_that_cannot_be_written_gives_7(station):
    with open("/dev/full", "w") as full:
        for args in (["--help"], ["ports"] if station.kind == "wine" else ["--version"]):
            result = station.run(args, stdout=full)
            assert (result.returncode, result.stderr.splitlines()) == (7, [
                "brandcli: the output could not be written (a closed pipe or a full disk?)"])


@pytest.mark.parametrize("station", ["wine"], indirect=True)
def test_watch_on_a_pc_that_never_had_a_serial_port_waits_for_the_key(station, three):
    # Windows makes the SERIALCOMM key only when the first port registers; Wine always has COM1,
    # so the key goes first. A driver then makes it anew, volatile: the probe does what it does.
    device = three[0]
    prefix = station.prefix
    probe = winenv.shared_session().install(
        winenv.build_dir("win64") / "tests" / "faults" / "serial_probe.exe")
    prefix.reg(["delete", winenv.SERIALCOMM_KEY, "/f"])
    assert prefix.serialcomm(missing_ok=True) is None
    watch = station.spawn(["watch", "brand", "--count", "1", "--json"])
    time.sleep(1.0)
    prefix.link_port(40, device.path)
    assert prefix.run([probe, "register", "40", r"\Device\VCP9"]).stdout.split() == ["REGISTERED", "40"]
    code, out, err = watch.finish()
    assert (code, json.loads(out)["port"], json.loads(out)["device"]) == (0, "COM40", r"\Device\VCP9")
    assert err.splitlines()[1:] == ["COM40: took the brand frame"]
    assert device.wait_for(len(BRAND_FRAME)) == BRAND_FRAME


# -- The USB identity of Windows ports, from devices planted where SetupAPI lists them ----------

def test_records_name_the_usb_device_behind_each_port(rig, devices):
    prefix, _, _ = rig
    composite = r"USB\VID_2341&PID_8037"
    planted_devices.plant_usb_devices(prefix, winenv.shared_session().root, [
        (r"FTDIBUS\VID_0403+PID_6001+A1B2C3D4A\0000", "COM%d" % PORT,
         r"USB\VID_0403&PID_6001\A1B2C3D4", "FT232R USB UART"),
        (r"USB\VID_0403&PID_6001\A1B2C3D4", None, None, None),
        (r"USB\VID_2341&PID_8036\SERIAL777", "COM%d" % HIGH_PORT, None, "Arduino Leonardo"),
        (r"USB\VID_067B&PID_2303\5&2C4F1E&0&1", "COM%d" % GONE_PORT, None, None),  # no serial
        (composite + r"&MI_00\6&3A0&0&0000", "COM%d" % UNLISTED_PORT, composite + r"\SN0001",
         "Micro \u00fc\u4e2d"),
        (composite + r"\SN0001", None, None, None)])
    usb = ("vid", "pid", "serial", "product")
    # Loaded by its full path, never from the program's folder (also the working directory).
    planted = pathlib.Path(str(rig[1])).parent / "setupapi.dll"
    planted.write_bytes(b"MZ not a library")
    try:
        listed = {r["port"]: r for r in map(json.loads, success(brandcli(rig, "ports", "--json")))}
    finally:
        planted.unlink()
    assert {port: tuple(r.get(f) for f in usb) for port, r in listed.items()} == {
        "COM1": (None,) * 4, "COM%d" % UNOPENABLE_PORT: (None,) * 4,
        "COM%d" % PORT: ("0403", "6001", "A1B2C3D4", "FT232R USB UART"),
        "COM%d" % HIGH_PORT: ("2341", "8036", "SERIAL777", "Arduino Leonardo"),
        "COM%d" % GONE_PORT: ("067b", "2303", None, None)}
    assert listed["COM%d" % PORT]["device"] == r"\Device\Serial4"
    record = json.loads(success(brandcli(rig, "brand", "COM%d" % UNLISTED_PORT, "--json"))[0])
    assert (record["result"],) + tuple(record[f] for f in usb) == (
        "sent", "2341", "8037", "SN0001", "Micro \u00fc\u4e2d")
    assert devices[UNLISTED_PORT].wait_for(len(BRAND_FRAME)) == BRAND_FRAME


def test_watch_only_vid_sends_to_the_one_device_of_that_vendor(rig, three):
    prefix, cli, _ = rig
    plugged, wanted_device = three[:2]
    other, wanted = 30, 31
    planted_devices.plant_usb_devices(prefix, winenv.shared_session().root, [
        (r"USB\VID_1A86&PID_7523\5&1&0&2", "COM%d" % other, None, None),
        (r"USB\VID_2341&PID_8036\SN0002", "COM%d" % wanted, None, None)])
    # Without --json: the filter alone must make brandcli read the identity.
    watch = cli_rig.Started(prefix.spawn([cli, "watch", "code", "--only", "vid=2341", "--count",
                                          "1"]), prefix.processes)
    time.sleep(1.0)
    for number, device in ((other, plugged), (wanted, wanted_device)):
        prefix.link_port(number, device.path)
        prefix.register_port(number, r"\Device\USBSER%03d" % number)
    code, out, err = watch.finish()
    assert (code, out, err.splitlines()[1:]) == (0, "", ["COM31: took the code frame"])
    assert wanted_device.wait_for(len(CODE_FRAME)) == CODE_FRAME
    assert plugged.wait_for(1, timeout=0.5, settle=0) == b""
