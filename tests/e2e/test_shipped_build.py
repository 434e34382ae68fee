"""The programs users get: the 32-bit brand.exe taken out of the release zip (tools/release.sh),
run end to end under Wine's WoW64, where qemu-user emulates the 32-bit Wine loader, and worked
by the 64-bit driver across the 32/64 boundary; then the zip's brandcli.exe sends one frame.

What this build has of its own (calling conventions, the DCB's bit fields, pointer-size casts,
the 32-bit runtime) shows only here. The dialog's checks share one program start, which takes
about a minute of one core under emulation; brandcli starts at the same time on the other core,
and is done before any check runs (none of them may share the machine with an emulated start).
The checks run in file order on that one dialog and prefix.
"""

import hashlib
import re
import subprocess
import zipfile

import pytest
import source_tree  # harness/, on the path through tests/conftest.py

from dialog_rig import (
    CLOSED,
    CODE_FRAME,
    EXITED,
    ID_SET_BRAND,
    ID_SET_CODE,
    OPENED,
    ROOT,
    Dialog,
    FakeDevice,
    Rig,
    brand_frame,
    driver_exe,
    winenv,
)

PORT = 5


def released_exe(session, name="brand.exe"):
    """`name` out of the release zip of the tree as it is, checked to be the very file the static
    checks read."""
    path, label = source_tree.release_zip(ROOT), source_tree.label(ROOT)
    if not path.exists():
        pytest.fail("%s is missing: tools/release.sh makes it (tools/test.sh runs it)" % path)
    with zipfile.ZipFile(path) as archive:
        exe = archive.read("Brand-%s/%s" % (label, name))
    built = (winenv.build_dir("win32") / name).read_bytes()
    assert hashlib.sha256(exe).digest() == hashlib.sha256(built).digest(), "zip holds another exe"
    # In a folder of its own: the session's bin/ holds the x86_64 builds of the other tests.
    target = session.root / "release"
    target.mkdir(exist_ok=True)
    (target / name).write_bytes(exe)
    for path in (target, target / name):
        winenv.chown_to_user(path)
    return target / name


@pytest.fixture(scope="module")
def shipped():
    missing = winenv.wow64_missing()
    if missing:
        pytest.fail("cannot run the shipped 32-bit program: %s (tools/setup.sh, as root)" % missing)
    session = winenv.shared_session()
    program, cli = released_exe(session), released_exe(session, "brandcli.exe")
    driver = session.install(driver_exe())
    display = winenv.Xvfb()
    device = FakeDevice()
    prefix = session.new_wow64_prefix("shipped", display.display)
    dialog = None
    try:
        prefix.map_port(PORT, device.path)
        rig = Rig(session, prefix, display.display, {PORT: device}, None, program, driver)
        dialog = Dialog(rig)
        # One port: a 32-bit process with two threads at work dies under qemu-i386 (a test
        # program of twenty lines does too), so brandcli's several-port threads are tested on the
        # x86_64 build alone.
        sending = prefix.spawn([cli, "brand", "COM%d" % PORT])
        print("32-bit window shown %.1f s after start" % dialog.attach(timeout_ms=240000))
        # The dialog holds no port until one is chosen, so brandcli's frame is its own.
        sending = prefix.finish(sending, timeout=240)
        sent = (sending.returncode, sending.stdout + sending.stderr, device.wait_for(16, timeout=3))
        device.clear()
        yield rig, dialog, device, sent
    finally:
        if dialog:
            dialog.stop()
        prefix.close()
        device.stop()
        display.stop()


def test_a_32bit_process_shows_the_filled_lists(shipped):
    rig, dialog, _, _ = shipped
    state = dialog.state()
    assert state["wow64"] == "1", "not a 32-bit process"
    assert state["title"] == "Brand"
    items = rig.port_items()
    assert "COM%d" % PORT in items
    assert [state["port.item%d" % i] for i in range(int(state["port.count"]))] == items
    assert state["port.sel"] == "-1"
    assert (state["brand.count"], state["brand.sel"], len(state["brand.item0"])) == ("1", "0", 8)
    assert (state["code.count"], state["code.item0"], state["code.sel"]) == ("1", "V3", "0")
    assert state["status"] == CLOSED
    assert state["setbrand.enabled"] == state["setcode.enabled"] == "0"


def stty(path, *settings):
    return subprocess.run(["stty", "-F", path] + list(settings), capture_output=True, text=True,
                          check=True).stdout


def test_port_choice_holds_the_port_with_its_line_settings(shipped):
    rig, dialog, device, _ = shipped
    stty(device.path, "9600", "cstopb", "-crtscts")  # so the change is the program's doing
    dialog.choose(rig.port_items().index("COM%d" % PORT))
    state = dialog.state()
    assert state["status"] == OPENED % PORT
    assert state["setbrand.enabled"] == state["setcode.enabled"] == "1"
    assert device.path in dialog.held().get(dialog.pid, [])
    # A pty shows speed, stop bits and flow control; it is always 8 bits without parity.
    line = stty(device.path, "-a")
    assert "speed 38400 baud" in line and "-cstopb" in line
    assert re.search(r"(^|\s)crtscts", line)


def test_set_buttons_send_exactly_their_frames(shipped):
    _, dialog, device, _ = shipped
    brand = dialog.state()["brand.item0"]
    for button, frame in ((ID_SET_BRAND, brand_frame(brand)), (ID_SET_CODE, CODE_FRAME)):
        device.clear()
        dialog.click(button)
        assert device.wait_for(len(frame), timeout=3) == frame
        assert dialog.state()["status"] == CLOSED
        assert dialog.held() == {}


def test_blocked_device(shipped):
    _, dialog, device, _ = shipped
    device.clear()
    device.block()
    try:
        seconds = dialog.click(ID_SET_BRAND) / 1000
        print("Set on a blocked line: %.3f s" % seconds)
        assert 0.9 <= seconds <= 2.0
        assert dialog.state()["status"] == CLOSED
        assert dialog.held() == {}
    finally:
        device.unblock()
    assert device.wait_for(1, timeout=1.0, settle=0.3) == b"", "the cancelled frame arrived"
    dialog.click(ID_SET_CODE)
    assert device.wait_for(len(CODE_FRAME), timeout=3) == CODE_FRAME


def test_about_box_then_close_ends_the_program(shipped):
    _, dialog, _, _ = shipped
    about = dialog.cmd("about")
    assert about.get("about.title") == "关于 Vandrel", about
    assert dialog.cmd("aboutok")["gone"] == "1"
    assert dialog.cmd("close:ok").get("closed") == "1"
    ended = dialog.wait_exit(timeout=10)
    assert ended == EXITED, "after Close the program %s" % (ended or "still runs")
    dialog.stop()  # waits for the server to let go of the port, too
    assert dialog.rig.held() == {}


def test_shipped_brandcli_sends_the_brand_frame(shipped):
    _, _, _, (code, printed, received) = shipped
    assert (code, printed) == (0, ""), printed
    assert received == brand_frame("VANDREL8")
