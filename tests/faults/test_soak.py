"""A thousand Set presses on one port, Brand and Code by turns: every frame arrives exactly once,
and the program ends with as many kernel handles, descriptors and windows as it had before them.

The wineserver's own descriptors are not compared: they belong to every process of the prefix
and drift by a few while the driver and the desktop process come and go."""

import time

from fault_rig import (
    CLOSED,
    CODE_FRAME,
    GOOD_PORT,
    ID_SET_BRAND,
    ID_SET_CODE,
    OTHER_PORT,
    brand_frame,
    expect_end,
    fd_count,
)

PRESSES = 1000


def resources(frig, dialog):
    gui = dialog.cmd("gui")
    assert "error" not in gui, gui
    assert int(gui["handles"]) > 0, gui
    return {
        "program fds": fd_count(dialog.pid),
        "kernel handles": int(gui["handles"]),
        "windows": int(gui["windows"]),
    }


def test_thousand_presses(frig, dialogs):
    dialog = dialogs()
    brand = dialog.state()["brand.item0"]
    device = frig.devices[GOOD_PORT]
    frames = {ID_SET_BRAND: brand_frame(brand), ID_SET_CODE: CODE_FRAME}
    at_start = resources(frig, dialog)

    # One press of each kind first, so whatever the first use of a port sets up once is in place.
    dialog.choose(frig.port_index(GOOD_PORT))
    expected = b""
    for button in (ID_SET_BRAND, ID_SET_CODE):
        dialog.click(button)
        expected += frames[button]
        assert device.wait_for(len(expected), timeout=3, settle=0) == expected
    expect_end(dialog, CLOSED, enabled=True)
    before = resources(frig, dialog)

    started = time.monotonic()
    slowest = 0.0
    for i in range(PRESSES):
        button = ID_SET_BRAND if i % 2 == 0 else ID_SET_CODE
        slowest = max(slowest, dialog.click(button))
        expected += frames[button]
        # Each frame is in before the next press: a press purges the port when it opens it.
        received = device.wait_for(len(expected), timeout=3, settle=0)
        assert received == expected, "press %d: %d bytes expected, %d received" % (
            i + 1,
            len(expected),
            len(received),
        )
        if (i + 1) % 100 == 0:
            expect_end(dialog, CLOSED, enabled=True)
    seconds = time.monotonic() - started

    # Nothing doubled arrives late.
    time.sleep(0.5)
    assert device.received() == expected
    kinds = [line.split()[1] for line in device.frames()]
    assert kinds == ["BR", "DT"] * (PRESSES // 2 + 1)
    assert frig.devices[OTHER_PORT].received() == b""
    expect_end(dialog, CLOSED, enabled=True)

    after = resources(frig, dialog)
    print("%d presses in %.1f s (%.1f ms each, slowest handler %.1f ms)"
          % (PRESSES, seconds, 1000 * seconds / PRESSES, slowest))
    print("at start %s" % at_start)
    print("before   %s" % before)
    print("after    %s" % after)
    assert after == before
