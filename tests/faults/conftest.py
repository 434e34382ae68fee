"""Fixtures of the fault, bad-input and soak tests; the rig itself is in fault_rig.py."""

import pytest

from fault_rig import (
    GOOD_PORT,
    OTHER_PORT,
    UNOPENABLE_PORT,
    started_dialogs,
    FakeDevice,
    FaultRig,
    brandcli_exe,
    driver_exe,
    probe_exe,
    program_exe,
    winenv,
)


@pytest.fixture(scope="session")
def programs():
    helpers = (driver_exe(), probe_exe())
    for exe in helpers:
        if not exe.exists():
            pytest.fail("%s is not built (tools/test.sh builds build/win64)" % exe)
    session = winenv.shared_session()
    driver, probe = session.install(*helpers)
    return session, (program_exe(session), driver, probe, brandcli_exe(session))


@pytest.fixture(scope="session")
def display():
    xvfb = winenv.Xvfb()
    yield xvfb.display
    xvfb.stop()


@pytest.fixture(scope="session")
def frig(programs, display):
    session, (program, driver, probe, brandcli) = programs
    devices = {GOOD_PORT: FakeDevice(), OTHER_PORT: FakeDevice()}
    locked = winenv.UnopenableTty()
    prefix = session.new_wow64_prefix("faults", display)
    try:
        for number, device in devices.items():
            prefix.map_port(number, device.path, restart=False)
        prefix.map_port(UNOPENABLE_PORT, locked.path, restart=False)
        prefix.restart_server()
        yield FaultRig(session, prefix, display, devices, locked, program, driver, probe=probe,
                       brandcli=brandcli)
    finally:
        prefix.close()
        for device in devices.values():
            device.stop()
        locked.close()


@pytest.fixture
def dialogs(frig):
    """Starts dialogs on the device rig (``dialogs()``) and ends whatever is left; puts every
    port back to its own device first."""
    for number, device in frig.devices.items():
        frig.point(number, device.path)
    frig.point(UNOPENABLE_PORT, frig.locked.path)
    with started_dialogs(frig) as start:
        yield start
