"""Fixtures of the end-to-end dialog tests; the rig itself is in dialog_rig.py."""

import pytest

from dialog_rig import (
    GOOD_PORT,
    OTHER_PORT,
    UNOPENABLE_PORT,
    started_dialogs,
    FakeDevice,
    Rig,
    driver_exe,
    program_exe,
    winenv,
)


@pytest.fixture(scope="module")
def rig():
    if not driver_exe().exists():
        pytest.fail("%s is not built (tools/test.sh builds build/win64)" % driver_exe())
    session = winenv.shared_session()
    program, driver = program_exe(session), session.install(driver_exe())
    display = winenv.Xvfb()
    devices = {GOOD_PORT: FakeDevice(), OTHER_PORT: FakeDevice()}
    locked = winenv.UnopenableTty()
    prefix = session.new_wow64_prefix("e2e-dialog", display.display)
    try:
        for number, device in devices.items():
            prefix.map_port(number, device.path, restart=False)
        prefix.map_port(UNOPENABLE_PORT, locked.path, restart=False)
        prefix.restart_server()
        yield Rig(session, prefix, display.display, devices, locked, program, driver)
    finally:
        prefix.close()
        for device in devices.values():
            device.stop()
        locked.close()
        display.stop()


@pytest.fixture
def dialog_factory(rig):
    """Starts dialogs (``dialog_factory(args=..., lang=...)``) and ends whatever is left."""
    with started_dialogs(rig) as start:
        yield start
