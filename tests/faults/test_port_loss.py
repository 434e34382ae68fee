"""The device's tty goes away, or its mapping does, between choosing the port and pressing Set,
or while the port is held when the dialog closes.

What an open then reports is Wine's business, not the program's: with the tty or the whole
mapping gone, Wine still opens COMn (its own stand-in device, on which every comm call fails),
while a mapping that leads to a tty the user may not open makes the open fail. So each case asks
Wine first (fault_rig.FaultRig.opens) and then demands the status that belongs to that outcome:
after a Set press "端口关闭" when the open succeeded, "打开端口%d失败！" when it failed."""

import time

from fault_rig import (
    CLOSED,
    CODE_FRAME,
    GOOD_PORT,
    ID_SET_BRAND,
    ID_SET_CODE,
    OPEN_FAILED,
    OPENED,
    OTHER_PORT,
    brand_frame,
    close_and_wait,
    expect_end,
    nothing_arrives,
    press_for,
)


def status_after_set(opens, number):
    return CLOSED if opens else OPEN_FAILED % number


def status_after_choice(opens, number):
    return (OPENED if opens else OPEN_FAILED) % number


def press(dialog, button):
    seconds = dialog.click(button) / 1000
    # Nothing here waits on a line that takes bytes slowly: a failing port fails at once.
    assert seconds < 2.0, "a Set press on a lost port took %.2f s" % seconds
    return seconds


def test_tty_goes_away_between_choice_and_set(frig, dialogs):
    dialog = dialogs()
    brand = dialog.state()["brand.item0"]
    device = frig.devices[GOOD_PORT]
    dialog.choose(frig.port_index(GOOD_PORT))
    assert dialog.state()["status"] == OPENED % GOOD_PORT

    path = device.path
    device.close_far_end()
    deadline = time.monotonic() + 2
    while path in frig.held(dialog.pid).get(dialog.pid, []) and time.monotonic() < deadline:
        time.sleep(0.05)
    # The program still holds the port, whose node has gone.
    assert path + " (deleted)" in frig.held(dialog.pid).get(dialog.pid, [])

    for button in (ID_SET_BRAND, ID_SET_CODE):
        seconds = press(dialog, button)
        opens = frig.opens(GOOD_PORT)
        print("Set with the tty gone: %.3f s; Wine opens COM%d: %s" % (seconds, GOOD_PORT, opens))
        expect_end(dialog, status_after_set(opens, GOOD_PORT), enabled=True)

    # A new device on the same port gets exactly what is pressed now, nothing left over.
    device = frig.new_device(GOOD_PORT)
    assert press_for(dialog, ID_SET_CODE, device, CODE_FRAME) == CODE_FRAME
    expected = CODE_FRAME + brand_frame(brand)
    assert press_for(dialog, ID_SET_BRAND, device, expected) == expected
    expect_end(dialog, CLOSED, enabled=True)
    assert frig.devices[OTHER_PORT].received() == b""


def test_mapping_taken_away_between_choice_and_set(frig, dialogs):
    dialog = dialogs()
    device = frig.devices[GOOD_PORT]
    dialog.choose(frig.port_index(GOOD_PORT))

    frig.take_away(GOOD_PORT)
    opens = frig.opens(GOOD_PORT)
    print("Wine opens COM%d without a mapping: %s" % (GOOD_PORT, opens))
    for button in (ID_SET_BRAND, ID_SET_CODE):
        press(dialog, button)
        expect_end(dialog, status_after_set(opens, GOOD_PORT), enabled=True)

    # Chosen again while unmapped: the Set buttons follow that open.
    dialog.choose(frig.port_index(GOOD_PORT))
    expect_end(dialog, status_after_choice(opens, GOOD_PORT), enabled=opens)
    assert nothing_arrives(device) == b""

    # Mapped again: the next press sends one frame.
    frig.point(GOOD_PORT, device.path)
    dialog.choose(frig.port_index(GOOD_PORT))
    dialog.click(ID_SET_CODE)
    assert device.wait_for(len(CODE_FRAME), timeout=3) == CODE_FRAME
    expect_end(dialog, CLOSED, enabled=True)


def test_mapping_leads_to_a_port_that_refuses_between_choice_and_set(frig, dialogs):
    dialog = dialogs()
    device = frig.devices[GOOD_PORT]
    # A tty owned by root with mode 0600, and a folder: neither opens as a port.
    for target in (frig.locked.path, str(frig.prefix.path / "drive_c")):
        dialog.choose(frig.port_index(GOOD_PORT))
        assert dialog.state()["status"] == OPENED % GOOD_PORT
        frig.point(GOOD_PORT, target)
        assert not frig.opens(GOOD_PORT)
        for button in (ID_SET_BRAND, ID_SET_CODE):
            press(dialog, button)
            # A Set press never changes the buttons, also when its open fails.
            expect_end(dialog, OPEN_FAILED % GOOD_PORT, enabled=True)
        dialog.choose(frig.port_index(GOOD_PORT))
        expect_end(dialog, OPEN_FAILED % GOOD_PORT, enabled=False)
        frig.point(GOOD_PORT, device.path)
    assert nothing_arrives(device) == b""

    dialog.choose(frig.port_index(GOOD_PORT))
    state = dialog.state()
    assert state["status"] == OPENED % GOOD_PORT
    assert state["setbrand.enabled"] == state["setcode.enabled"] == "1"
    dialog.click(ID_SET_CODE)
    assert device.wait_for(len(CODE_FRAME), timeout=3) == CODE_FRAME
    expect_end(dialog, CLOSED, enabled=True)


def test_tty_goes_away_while_held_at_close(frig, dialogs):
    dialog = dialogs()
    device = frig.devices[GOOD_PORT]
    dialog.choose(frig.port_index(GOOD_PORT))
    path = device.path
    device.close_far_end()
    time.sleep(0.2)
    assert frig.held(dialog.pid), "the program let go of the port by itself"
    seconds = close_and_wait(dialog, "box")
    print("closed holding a port whose tty went away: process ended after %.2f s" % seconds)
    assert frig.wait_released() == {}, "%s still held" % path
    frig.new_device(GOOD_PORT)
