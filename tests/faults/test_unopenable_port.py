"""A port that cannot be opened, chosen again and again, alternating with ports that open: the
status and the Set buttons must follow each choice, nothing may stay held, and afterwards a Set
press on a good port sends exactly one frame."""

from fault_rig import (
    CLOSED,
    GOOD_PORT,
    ID_SET_BRAND,
    ID_SET_CODE,
    OPEN_FAILED,
    OPENED,
    OTHER_PORT,
    UNOPENABLE_PORT,
    brand_frame,
    expect_end,
)


def expect_held(frig, dialog, number):
    """Exactly the device of port `number` is held, by the program and by the server."""
    path = frig.devices[number].path
    held = frig.held()
    assert held.get(dialog.pid) == [path], held
    assert sorted(t for ttys in held.values() for t in ttys) == [path, path], held


def test_unopenable_port_alternating_with_good_ones(frig, dialogs):
    dialog = dialogs()
    brand = dialog.state()["brand.item0"]
    bad = frig.port_index(UNOPENABLE_PORT)
    for round_ in range(5):
        for _ in range(2):
            dialog.choose(bad)
            expect_end(dialog, OPEN_FAILED % UNOPENABLE_PORT, enabled=False)
        # A disabled Set button does nothing.
        for button in (ID_SET_BRAND, ID_SET_CODE):
            assert dialog.cmd("click:%d" % button)["enabled"] == "0"
            expect_end(dialog, OPEN_FAILED % UNOPENABLE_PORT, enabled=False)
        good = GOOD_PORT if round_ % 2 == 0 else OTHER_PORT
        dialog.choose(frig.port_index(good))
        state = dialog.state()
        assert state["status"] == OPENED % good
        assert state["setbrand.enabled"] == state["setcode.enabled"] == "1"
        expect_held(frig, dialog, good)
    for device in frig.devices.values():
        assert device.received() == b""

    dialog.choose(bad)
    dialog.choose(frig.port_index(GOOD_PORT))
    dialog.click(ID_SET_BRAND)
    device = frig.devices[GOOD_PORT]
    assert device.wait_for(16, timeout=3) == brand_frame(brand)
    assert len(device.frames()) == 1
    assert frig.devices[OTHER_PORT].received() == b""
    expect_end(dialog, CLOSED, enabled=True)
