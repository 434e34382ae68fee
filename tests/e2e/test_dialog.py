"""The Brand dialog users get (the 32-bit brand.exe of the release zip) under Wine's WoW64 on a
virtual display, worked from outside by brand_driver.exe as a user would work it, with the fake
device on the far end of its ports.

Related checks share one program start; the rig and its ports are described in dialog_rig.py.
"""

import re
import time

import pytest

from dialog_rig import (
    CLOSED,
    CODE_FRAME,
    EXITED,
    GOOD_PORT,
    ID_BRAND,
    ID_CLOSE,
    ID_CODE,
    ID_SET_BRAND,
    ID_SET_CODE,
    OPEN_FAILED,
    OPENED,
    OTHER_PORT,
    UNOPENABLE_PORT,
    brand_frame,
    nothing_arrives,
    press_for,
    build_dir,
    winenv,
)



def port_index(rig, number):
    return rig.port_items().index("COM%d" % number)


def expect_ports(state, enabled):
    assert state["setbrand.enabled"] == state["setcode.enabled"] == ("1" if enabled else "0")


def test_startup_and_port_choice(rig, dialog_factory):
    dialog = dialog_factory()
    print("window shown %.2f s after start" % dialog.startup_seconds)
    state = dialog.state()
    assert state["title"] == "Brand"
    assert state["visible"] == "1"
    assert state["wow64"] == "1", "not a 32-bit process"

    items = rig.port_items()
    assert {"COM%d" % n for n in (GOOD_PORT, OTHER_PORT, UNOPENABLE_PORT)} <= set(items)
    assert int(state["port.count"]) == len(items)
    assert [state["port.item%d" % i] for i in range(len(items))] == items
    assert state["port.sel"] == "-1"

    assert state["brand.count"] == "1"
    brand = state["brand.item0"]
    assert len(brand.encode("ascii")) == 8
    assert state["brand.sel"] == "0"
    assert state["code.count"] == "1"
    assert state["code.item0"] == "V3"
    assert state["code.sel"] == "0"

    assert state["status"] == CLOSED
    expect_ports(state, enabled=False)
    assert state["focus"] == str(ID_CLOSE)
    assert dialog.held() == {}
    # The title bar, the task switcher and a drag of the minimized window show the program's icon.
    icons = window_probe(rig)
    program_icon = int(icons["icon.program"], 16)
    assert program_icon and [int(icons["icon." + k], 16) for k in ("big", "small", "drag")] == [
        program_icon] * 3, icons

    # A port that cannot be opened: failure text, Set buttons off, nothing held.
    dialog.choose(port_index(rig, UNOPENABLE_PORT))
    state = dialog.state()
    assert state["status"] == OPEN_FAILED % UNOPENABLE_PORT
    expect_ports(state, enabled=False)
    assert dialog.held() == {}

    # One that opens: held by the program (and the server), Set buttons on, its line set (from
    # other settings, so the change is the program's doing: the DCB's bit fields are the 32-bit
    # build's own).
    device = rig.devices[GOOD_PORT]
    device.stty("9600", "cstopb", "-crtscts")
    dialog.choose(port_index(rig, GOOD_PORT))
    state = dialog.state()
    assert state["status"] == OPENED % GOOD_PORT
    expect_ports(state, enabled=True)
    assert device.path in dialog.held().get(dialog.pid, [])
    line = device.stty("-a")
    assert "speed 38400 baud" in line and "-cstopb" in line
    assert re.search(r"(^|\s)crtscts", line)
    # (Going back and forth between ports, and to one that does not open: the fault tests.)

    # Choosing a port sends nothing.
    for device in rig.devices.values():
        assert nothing_arrives(device, 0.3) == b""


def test_set_buttons_send_exactly_their_frame(rig, dialog_factory):
    dialog = dialog_factory()
    brand = dialog.state()["brand.item0"]
    device = rig.devices[GOOD_PORT]
    other = rig.devices[OTHER_PORT]
    dialog.choose(port_index(rig, GOOD_PORT))

    for button, frame in ((ID_SET_BRAND, brand_frame(brand)), (ID_SET_CODE, CODE_FRAME)):
        device.clear()
        ms = dialog.click(button)
        print("Set %d on a free line: %.1f ms" % (button, ms))
        assert ms < 900, "a Set press on a free line took %.0f ms" % ms
        assert device.wait_for(len(frame), timeout=3) == frame
        state = dialog.state()
        assert state["status"] == CLOSED
        assert dialog.held() == {}
        expect_ports(state, enabled=True)
    assert other.received() == b""

    # A second press works the same way: the port is opened afresh each time.
    device.clear()
    dialog.click(ID_SET_CODE)
    assert device.wait_for(len(CODE_FRAME), timeout=3) == CODE_FRAME
    assert dialog.held() == {}


def test_typed_text_is_never_sent(rig, dialog_factory):
    dialog = dialog_factory()
    brand = dialog.state()["brand.item0"]
    device = rig.devices[GOOD_PORT]
    dialog.choose(port_index(rig, GOOD_PORT))

    # Text in the edit field, the item still selected: the item is sent.
    dialog.cmd("type:%d:TYPED123" % ID_BRAND)
    dialog.cmd("type:%d:ZZ" % ID_CODE)
    state = dialog.state()
    assert (state["brand.text"], state["code.text"]) == ("TYPED123", "ZZ")
    assert (state["brand.sel"], state["code.sel"]) == ("0", "0")
    assert press_for(dialog, ID_SET_BRAND, device, brand_frame(brand)) == brand_frame(brand)
    expected = brand_frame(brand) + CODE_FRAME
    assert press_for(dialog, ID_SET_CODE, device, expected) == expected

    # Typed the way a keyboard does (the edit notifies its list, which may drop the
    # selection): whatever is sent is an item's frame, never the typed text.
    device.clear()
    dialog.cmd("typeedit:%d:QQQQWWWW" % ID_BRAND)
    dialog.cmd("typeedit:%d:XY" % ID_CODE)
    state = dialog.state()
    print("selection after typing: brand %s, code %s" % (state["brand.sel"], state["code.sel"]))
    assert (state["brand.text"], state["code.text"]) == ("QQQQWWWW", "XY")
    expected = b""
    for button, selected, frame in ((ID_SET_BRAND, state["brand.sel"], brand_frame(brand)),
                                    (ID_SET_CODE, state["code.sel"], CODE_FRAME)):
        expected += frame if selected == "0" else b""
        assert press_for(dialog, button, device, expected) == expected
    assert dialog.state()["status"] == CLOSED
    assert dialog.held() == {}


def test_enter_presses_the_focused_button(rig, dialog_factory):
    dialog = dialog_factory()
    brand = dialog.state()["brand.item0"]
    device = rig.devices[GOOD_PORT]
    dialog.choose(port_index(rig, GOOD_PORT))
    # Enter on a Set button presses that button, and the program stays.
    for button, frame in ((ID_SET_BRAND, brand_frame(brand)), (ID_SET_CODE, CODE_FRAME)):
        dialog.cmd("focus:%d" % button)
        assert dialog.state()["focus"] == str(button)
        device.clear()
        dialog.cmd("key:13")
        assert device.wait_for(len(frame), timeout=3) == frame
        assert dialog.state()["status"] == CLOSED
    # Enter on "Close", where the focus is after start-up, ends the program.
    dialog.cmd("focus:%d" % ID_CLOSE)
    assert dialog.cmd("close:enter").get("closed") == "1"
    assert dialog.wait_exit(timeout=2.0) == EXITED


def window_probe(rig):
    """The program's icons and system menu, read inside the program by window_probe's hook
    (another process cannot read them under Wine)."""
    e2e = build_dir("win32") / "tests" / "e2e"  # the hook loads only into its own bitness
    probe, _ = rig.session.install(e2e / "window_probe.exe", e2e / "window_hook.dll")
    result = rig.prefix.run([probe], timeout=30)
    assert (result.returncode, result.stderr) == (0, ""), result
    values = dict(line.partition("=")[::2] for line in result.stdout.splitlines())
    assert "error" not in values and values.get("sysmenu.available") == "1", result.stdout
    return values


def system_menu(values):
    return [
        (int(values["sysmenu.item%d.id" % i]), values["sysmenu.item%d.separator" % i] == "1",
         values["sysmenu.item%d.text" % i])
        for i in range(int(values["sysmenu.count"]))
    ]


def test_about_box(rig, dialog_factory):
    dialog = dialog_factory()
    menu = system_menu(window_probe(rig))
    # The window's own items (restore, move, ..., close) come first, then ours.
    assert len(menu) > 2, menu
    assert menu[-2][1], "no separator before the About item: %r" % menu
    assert menu[-1] == (0x0010, False, "关于 Vandrel(&A)..."), menu

    windows_before = int(dialog.cmd("gui")["windows"])
    about = dialog.cmd("about")
    assert "error" not in about, about
    assert about["about.title"] == "关于 Vandrel"
    # Modal: owned by the main window, which takes no input until the box is closed.
    assert (about["about.owner_is_main"], about["main.enabled"]) == ("1", "0")
    statics = [
        about["about.child%d.text" % i]
        for i in range(int(about["about.children"]))
        if about["about.child%d.class" % i] == "Static" and about["about.child%d.id" % i] == "-1"
    ]
    assert "Vandrel 1.0 版" in statics
    notice = [t for t in statics if t.strip() and t != "Vandrel 1.0 版" and t.isprintable()]
    assert len(notice) == 1 and len(notice[0]) >= 4, statics

    assert int(dialog.cmd("gui")["windows"]) > windows_before
    closed = dialog.cmd("aboutok")
    assert closed["ok.text"] == "确定"
    assert closed["gone"] == "1"
    assert int(dialog.cmd("gui")["windows"]) == windows_before  # nothing of the box is left
    assert dialog.state()["enabled"] == "1"

    # The main window is back to work: a port choice and a Set press.
    device = rig.devices[GOOD_PORT]
    dialog.choose(port_index(rig, GOOD_PORT))
    assert dialog.state()["status"] == OPENED % GOOD_PORT
    dialog.click(ID_SET_CODE)
    assert device.wait_for(len(CODE_FRAME), timeout=3) == CODE_FRAME


@pytest.mark.parametrize("how", ["ok", "esc", "box"])
def test_closing_ends_the_program_and_releases_the_port(rig, dialog_factory, how):
    dialog = dialog_factory()
    dialog.choose(port_index(rig, GOOD_PORT))
    assert rig.devices[GOOD_PORT].path in dialog.held().get(dialog.pid, [])

    started = time.monotonic()
    closed = dialog.cmd("close:%s" % how)
    assert closed.get("closed") == "1", closed
    ended = dialog.wait_exit(timeout=2.0)
    assert ended == EXITED, "after close the program %s" % (ended or "still runs")
    seconds = time.monotonic() - started
    print("%s: window gone after %s ms, process ended after %.2f s" % (how, closed["ms"], seconds))
    assert seconds <= 2.0
    # The server keeps a descriptor of an open port too: gone as well.
    deadline = time.monotonic() + 1
    while dialog.held() and time.monotonic() < deadline:
        time.sleep(0.05)
    assert dialog.held() == {}
    assert rig.devices[GOOD_PORT].received() == b""


@pytest.mark.parametrize("lang", [winenv.LANG_WESTERN, winenv.LANG_CHINESE])
def test_status_texts_under_each_code_page(rig, dialog_factory, lang):
    dialog = dialog_factory(lang=lang)
    assert dialog.state()["status"] == CLOSED
    dialog.choose(port_index(rig, UNOPENABLE_PORT))
    assert dialog.state()["status"] == OPEN_FAILED % UNOPENABLE_PORT
    dialog.choose(port_index(rig, GOOD_PORT))
    assert dialog.state()["status"] == OPENED % GOOD_PORT
    dialog.click(ID_SET_CODE)
    assert dialog.state()["status"] == CLOSED
    assert rig.devices[GOOD_PORT].wait_for(len(CODE_FRAME), timeout=3) == CODE_FRAME


def test_command_line_is_ignored(rig, dialog_factory):
    first = dialog_factory()
    plain = first.state()
    first.stop()  # one "Brand" window at a time, or the driver could find the wrong one
    junk = ["/COM%d" % GOOD_PORT, "COM%d" % GOOD_PORT, "--port=5", "-h", "商标", "x" * 300]
    state = dialog_factory(args=junk).state()
    for state_ in (plain, state):
        state_.pop("pid")
    assert state == plain
    assert state["status"] == CLOSED
    assert rig.held() == {}
