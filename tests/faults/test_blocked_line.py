"""A device that stops taking bytes (output suspended on its tty, as a device holding CTS low)
at every point of the program's work: before the port is chosen, on each kind of Set press, on
many presses in a row, and when the dialog is closed. Every press must give up after its one
second of waiting, and nothing of an abandoned write may reach the device later."""

import time

from fault_rig import (
    CLOSED,
    CODE_FRAME,
    EXITED,
    GOOD_PORT,
    ID_SET_BRAND,
    ID_SET_CODE,
    OPENED,
    brand_frame,
    close_and_wait,
    expect_end,
    nothing_arrives,
)

# The program waits 1000 ms for a write; what Wine adds on top stays well under a second.
BLOCKED_PRESS_SECONDS = (0.9, 2.0)


def blocked_press(dialog, button):
    seconds = dialog.click(button) / 1000
    low, high = BLOCKED_PRESS_SECONDS
    assert low <= seconds <= high, "a Set press on a blocked line took %.3f s" % seconds
    return seconds


def test_blocked_line_at_every_point(frig, dialogs):
    dialog = dialogs()
    brand = dialog.state()["brand.item0"]
    device = frig.devices[GOOD_PORT]
    other = frig.devices[5]

    # Blocked before the port is even chosen: opening and configuring never waits on the line.
    device.block()
    try:
        started = time.monotonic()
        dialog.choose(frig.port_index(GOOD_PORT))
        seconds = time.monotonic() - started
        print("port choice on a blocked line: %.3f s" % seconds)
        assert seconds < 0.9
        state = dialog.state()
        assert state["status"] == OPENED % GOOD_PORT
        assert state["setbrand.enabled"] == state["setcode.enabled"] == "1"
        assert device.path in frig.held(dialog.pid).get(dialog.pid, [])

        timings = []
        for button in (ID_SET_BRAND, ID_SET_CODE):
            timings.append(blocked_press(dialog, button))
            expect_end(dialog, CLOSED, enabled=True)
        print("blocked Brand press %.3f s, Code press %.3f s" % tuple(timings))

        # Ten in a row, each opening the port afresh onto the same stopped line.
        row = []
        for i in range(10):
            row.append(blocked_press(dialog, ID_SET_BRAND if i % 2 == 0 else ID_SET_CODE))
            expect_end(dialog, CLOSED, enabled=True)
        print("ten blocked presses: " + " ".join("%.3f" % s for s in row))
        assert device.received() == b""
    finally:
        device.unblock()

    # Twelve abandoned writes: none of their bytes may turn up once the line runs again.
    late = nothing_arrives(device, 1.0)
    assert late == b"", "bytes of cancelled writes arrived later: %r" % late

    # The line works again, one exact frame per press.
    dialog.click(ID_SET_CODE)
    assert device.wait_for(len(CODE_FRAME), timeout=3) == CODE_FRAME
    dialog.click(ID_SET_BRAND)
    expected = CODE_FRAME + brand_frame(brand)
    assert device.wait_for(len(expected), timeout=3) == expected
    assert [line.split()[1] for line in device.frames()] == ["DT", "BR"]
    assert other.received() == b""
    expect_end(dialog, CLOSED, enabled=True)


def test_closing_with_a_blocked_line_and_a_held_port(frig, dialogs):
    dialog = dialogs()
    device = frig.devices[GOOD_PORT]
    dialog.choose(frig.port_index(GOOD_PORT))
    device.block()
    try:
        blocked_press(dialog, ID_SET_BRAND)
        # Chosen again: held, on a line that still takes nothing.
        dialog.choose(frig.port_index(GOOD_PORT))
        assert dialog.state()["status"] == OPENED % GOOD_PORT
        assert device.path in frig.held(dialog.pid).get(dialog.pid, [])
        seconds = close_and_wait(dialog, "ok")
        print("closed with a held port on a blocked line: process ended after %.2f s" % seconds)
        assert frig.wait_released() == {}
    finally:
        device.unblock()
    assert nothing_arrives(device, 1.0) == b""


def test_closing_during_a_blocked_press(frig, dialogs):
    dialog = dialogs()
    device = frig.devices[GOOD_PORT]
    dialog.choose(frig.port_index(GOOD_PORT))
    device.block()
    try:
        # The press waits on the line inside the dialog's handler; a user closes the window
        # meanwhile (the close request queues behind the handler).
        dialog.driver.stdin.write(b"click:%d\n" % ID_SET_CODE)
        dialog.driver.stdin.flush()
        time.sleep(0.3)
        started = time.monotonic()
        closer = frig.prefix.run([frig.driver, "wait:2000", "close:ok"], display=frig.display,
                                 timeout=15)
        assert (closer.returncode, closer.stderr) == (0, ""), closer
        assert "closed=1" in closer.stdout.splitlines(), closer.stdout
        ended = dialog.wait_exit(timeout=5)
        assert ended == EXITED, "after close the program %s" % (ended or "still runs")
        seconds = time.monotonic() - started
        print("closed during a blocked press: process ended after %.2f s" % seconds)
        assert seconds <= 2.0
        assert frig.wait_released() == {}
    finally:
        device.unblock()
    assert nothing_arrives(device, 1.0) == b""
