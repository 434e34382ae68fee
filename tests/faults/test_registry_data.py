"""Registry data of every odd shape under HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM, added while the
server runs and seen by the next program start.

The program's rules for a value, checked here against a small reference (listed_ports):

- its data is read with a 30-byte buffer and its name with a 100-byte one (room for the name's
  terminating NUL included); a value that does not fit either is skipped and the walk goes on;
  REG_SZ data counts its terminating NUL, so 29 characters are the most that fit;
- the port number is atoi of all the bytes after the first three (leading blanks, an optional
  sign, digits; the text ends at the first NUL or the end of the data): "COM123" is 123, and
  "COM", "COMX1", "COM0" and " COM7" are 0;
- a number outside 0..255 is skipped, never cut to 8 bits (COM300 is not COM44);
- the value's type is not looked at: the bytes are what counts;
- the list holds at most 255 ports, in the registry's enumeration order.
"""

import pytest

from fault_rig import (
    CLOSED,
    CODE_FRAME,
    ID_SET_CODE,
    OPEN_FAILED,
    OPENED,
    Dialog,
    FakeDevice,
    FaultRig,
    expect_end,
    winenv,
)

NAME_CAPACITY = 100
DATA_CAPACITY = 30
TABLE_CAPACITY = 255
DEFAULT_NAME = "(Default)"  # how reg query shows the value without a name

# (name, type, data bytes) — data as the program's RegEnumValueA sees it: for REG_SZ the text in
# the ANSI code page with its terminating NUL, for the other types the stored bytes.


def sz(text):
    return ("REG_SZ", text.encode("ascii") + b"\0")


def binary(data):
    return ("REG_BINARY", data)


def dword(value):
    return ("REG_DWORD", value.to_bytes(4, "little"))


ODD_VALUES = [
    ("odd-01", *sz("COM")),
    ("odd-02", *sz("COMX1")),
    ("odd-03", *sz("COM0")),
    ("odd-04", *sz("COM123")),
    ("odd-05", *sz("COM255")),
    ("odd-06", *sz("COM256")),
    ("odd-07", *sz("COM300")),
    ("odd-08", *sz("COM-1")),
    ("odd-09", *sz(" COM7")),
    ("odd-10", *sz("COM 42")),
    ("odd-11", *sz("COM+43")),
    ("odd-12", *sz("COM-0")),
    ("odd-13", *sz("COM045")),
    ("odd-14", *sz("COM99999999999")),
    ("odd-15", *sz("COM12abc")),
    ("odd-16", *sz("")),  # an empty value
    ("odd-17", *binary(b"")),  # no data at all
    ("odd-18", *dword(0x384D4F43)),  # the bytes "COM8"
    ("odd-19", *binary(b"COM16")),  # no terminating NUL
    ("odd-20", *binary(b"COM46\0" + b"7")),  # the text ends at the NUL
    ("odd-21", *dword(0)),
    # REG_SZ of 29, 30 and 31 bytes, NUL included: 28, 29 and 30 characters.
    ("size-sz-29", *sz("COM221".ljust(28, "x"))),
    ("size-sz-30", *sz("COM222".ljust(29, "x"))),
    ("size-sz-31", *sz("COM223".ljust(30, "x"))),
    # REG_BINARY of 29, 30 and 31 bytes, no NUL.
    ("size-bin-29", *binary(b"COM231".ljust(29, b"x"))),
    ("size-bin-30", *binary(b"COM232".ljust(30, b"x"))),
    ("size-bin-31", *binary(b"COM233".ljust(31, b"x"))),
    # Names of 99, 100 and 101 bytes (the buffer needs one more for the NUL).
    ("n" * 99, *sz("COM211")),
    ("n" * 100, *sz("COM212")),
    ("n" * 101, *sz("COM213")),
    ("", *sz("COM17")),  # the value without a name
]


def atoi(data):
    """C's atoi of `data`, as far as the first NUL; None when it does not fit an int."""
    text = data.split(b"\0", 1)[0]
    i = 0
    while i < len(text) and text[i] in b" \t\n\v\f\r":
        i += 1
    sign = 1
    if i < len(text) and text[i] in b"+-":
        sign = -1 if text[i] == ord("-") else 1
        i += 1
    value = 0
    while i < len(text) and 48 <= text[i] <= 57:
        value = value * 10 + text[i] - 48
        i += 1
    return sign * value


def listed_ports(values):
    """The port list the program must show for `values` [(name, data bytes)] in enumeration
    order."""
    ports = []
    for name, data in values:
        if len(name.encode("ascii")) + 1 > NAME_CAPACITY or len(data) > DATA_CAPACITY:
            continue
        number = atoi(data[3:])
        if not 0 <= number <= 255:
            continue
        ports.append("COM%d" % number)
        if len(ports) == TABLE_CAPACITY:
            break
    return ports


def check_reference():
    """A precondition of the tests below, not a test of the program: the reference answers the
    cases whose answers are decided. A failure stops the run as the module loads."""

    def one(data, name="v"):
        return listed_ports([(name, data)])

    decided = [
        one(b"COM123\0") == ["COM123"],
        one(b"COM\0") == one(b"COMX1\0") == one(b"COM0\0") == one(b" COM7\0") == ["COM0"],
        one(b"COM256\0") == one(b"COM300\0") == one(b"COM-1\0") == [],
        one(b"COM222".ljust(29, b"x") + b"\0") == ["COM222"],
        one(b"COM223".ljust(30, b"x") + b"\0") == [],
        one(b"COM1\0", "n" * 99) == ["COM1"] and one(b"COM1\0", "n" * 100) == [],
        len(listed_ports([("v%d" % i, b"COM1\0") for i in range(300)])) == 255,
    ]
    if not all(decided):
        raise RuntimeError("precondition: the reference listing misjudges case %d" %
                           decided.index(False))


check_reference()


def reg_file_line(name, kind, data):
    quoted = '"%s"' % name.replace("\\", "\\\\").replace('"', '\\"') if name else "@"
    if kind == "REG_SZ":
        text = data[:-1].decode("ascii").replace("\\", "\\\\").replace('"', '\\"')
        return '%s="%s"' % (quoted, text)
    if kind == "REG_DWORD":
        return "%s=dword:%08x" % (quoted, int.from_bytes(data, "little"))
    return "%s=hex:%s" % (quoted, ",".join("%02x" % b for b in data))


def add_values(rig, values):
    """Adds `values` under SERIALCOMM in one go (a .reg file imported while the server runs)."""
    lines = ["REGEDIT4", "", "[%s]" % winenv.SERIALCOMM_KEY.replace("HKLM", "HKEY_LOCAL_MACHINE")]
    lines += [reg_file_line(*value) for value in values]
    path = rig.session.root / "serialcomm.reg"
    path.write_text("\r\n".join(lines) + "\r\n", encoding="ascii")
    winenv.chown_to_user(path, rig.prefix.user)
    rig.prefix.reg_import(path)


def registry_values(rig, added):
    """[(name, data bytes)] of SERIALCOMM in Wine's enumeration order; the values this test
    added carry their exact bytes, the others (Wine's own, all REG_SZ) their text."""
    exact = {name or DEFAULT_NAME: (kind, data) for name, kind, data in added}
    values = []
    for name, kind, data in rig.prefix.reg_values(winenv.SERIALCOMM_KEY):
        if name in exact:
            assert kind == exact[name][0], (name, kind)
            values.append((name if name != DEFAULT_NAME else "", exact[name][1]))
        else:
            assert kind == "REG_SZ", (name, kind)
            values.append((name, data.encode("ascii") + b"\0"))
    return values


def shown_ports(state):
    return [state["port.item%d" % i] for i in range(int(state["port.count"]))]


@pytest.fixture(scope="module")
def reg_rig(programs, display):
    session, (program, driver, probe, brandcli) = programs
    device = FakeDevice()
    prefix = session.new_wow64_prefix("faults-registry", display)
    rig = FaultRig(session, prefix, display, {123: device}, None, program, driver, probe=probe,
                   brandcli=brandcli)
    try:
        # COM123 leads to a device without a registry mapping of its own (that would add a
        # SERIALCOMM value too).
        rig.point(123, device.path)
        yield rig
    finally:
        prefix.close()
        device.stop()


@pytest.fixture
def reg_dialogs(reg_rig):
    started = []

    def start():
        dialog = Dialog(reg_rig)
        started.append(dialog)
        dialog.attach()
        return dialog

    yield start
    for dialog in started:
        dialog.stop()


def test_odd_values(reg_rig, reg_dialogs):
    add_values(reg_rig, ODD_VALUES)
    values = registry_values(reg_rig, ODD_VALUES)
    assert len(values) >= len(ODD_VALUES)
    expected = listed_ports(values)
    print("registry order: %s" % [name[:12] for name, _ in values])
    print("expected list: %s" % expected)

    dialog = reg_dialogs()
    state = expect_end(dialog, CLOSED, enabled=False)
    assert shown_ports(state) == expected
    assert state["port.sel"] == "-1"
    # Cut to 8 bits, COM300 would be listed as COM44.
    assert "COM44" not in shown_ports(state)
    # brandcli lists the same, less COM0, which no brand call accepts.
    listed = reg_rig.prefix.run([reg_rig.brandcli, "ports"])
    assert (listed.returncode, listed.stderr) == (0, ""), listed
    assert listed.stdout.splitlines() == [port for port in expected if port != "COM0"]

    # COM123 is the device COM123, not COM12.
    device = reg_rig.devices[123]
    dialog.choose(expected.index("COM123"))
    state = dialog.state()
    assert state["status"] == OPENED % 123
    assert state["setbrand.enabled"] == state["setcode.enabled"] == "1"
    dialog.click(ID_SET_CODE)
    assert device.wait_for(len(CODE_FRAME), timeout=3) == CODE_FRAME
    expect_end(dialog, CLOSED, enabled=True)


def test_three_hundred_values(reg_rig, reg_dialogs):
    many = [("many-%03d" % i, *sz("COM%d" % (i % 255 + 1))) for i in range(300)]
    add_values(reg_rig, many)
    values = registry_values(reg_rig, ODD_VALUES + many)
    assert len(values) >= 300
    expected = listed_ports(values)
    assert len(expected) == TABLE_CAPACITY

    dialog = reg_dialogs()
    state = expect_end(dialog, CLOSED, enabled=False)
    assert shown_ports(state) == expected
    # The last item works like any other: its port is tried, and the status says how that went.
    last = int(expected[-1][3:])
    status = (OPENED if reg_rig.opens(last) else OPEN_FAILED) % last
    dialog.choose(TABLE_CAPACITY - 1)
    assert dialog.state()["status"] == status


def test_missing_key(reg_rig, reg_dialogs):
    reg_rig.prefix.reg_delete(winenv.SERIALCOMM_KEY)
    assert reg_rig.prefix.serialcomm(missing_ok=True) is None
    dialog = reg_dialogs()
    # A program start does not bring the key back.
    assert reg_rig.prefix.serialcomm(missing_ok=True) is None
    state = expect_end(dialog, CLOSED, enabled=False)
    assert shown_ports(state) == []
    # Nothing to choose: the buttons stay off.
    assert state["port.sel"] == "-1"
    # No key is no port, not a list that could not be read.
    listed = reg_rig.prefix.run([reg_rig.brandcli, "ports"])
    assert (listed.returncode, listed.stdout, listed.stderr) == (0, "", "")
