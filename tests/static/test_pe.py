"""Static checks of the built Windows executables.

The shipped programs are the i686 builds (build/win32/brand.exe, the dialog, and
build/win32/brandcli.exe, its console companion), which the Wine tests run too; the x86_64
builds (build/win64) are built from the same sources, so both must carry the same resources and
both must load on Windows XP.
Nothing here runs the programs: the PE headers, the import table and the resources are read and
decoded directly; the release zip's dates are read too.

Run with Debian's python (it has python3-pefile):

    /usr/bin/python3 -m pytest tests/static

BRAND_BUILD_DIR points at another directory holding win32/ and win64/ with both programs.
"""

import functools
import os
import struct
import time
import xml.etree.ElementTree as ElementTree
import zipfile
from pathlib import Path

import pefile
import pytest

import source_tree  # harness/, which tests/conftest.py puts on the path

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("BRAND_BUILD_DIR", ROOT / "build"))
BUILDS = ("win32", "win64")
PROGRAMS = ("brand", "brandcli")

# --- Windows constants -----------------------------------------------------------------------

IMAGE_FILE_MACHINE_I386 = 0x014C
IMAGE_FILE_MACHINE_AMD64 = 0x8664
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_SUBSYSTEM_WINDOWS_CUI = 3

RT_ICON = 3
RT_DIALOG = 5
RT_STRING = 6
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

WS_POPUP = 0x80000000
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_CAPTION = 0x00C00000
WS_VSCROLL = 0x00200000
WS_SYSMENU = 0x00080000
WS_GROUP = 0x00020000
WS_TABSTOP = 0x00010000
WS_MINIMIZEBOX = 0x00020000
WS_EX_APPWINDOW = 0x00040000
DS_SETFONT = 0x40
DS_MODALFRAME = 0x80

BS_PUSHBUTTON = 0x0
BS_DEFPUSHBUTTON = 0x1
BS_GROUPBOX = 0x7
ES_AUTOHSCROLL = 0x80
ES_READONLY = 0x800
SS_LEFT = 0x0
SS_ICON = 0x3
SS_NOPREFIX = 0x80
CBS_DROPDOWN = 0x2

BUTTON, EDIT, STATIC, COMBOBOX = 0x80, 0x81, 0x82, 0x85

FW_NORMAL = 400
DEFAULT_CHARSET = 1

VOS__WINDOWS32 = 0x4
VFT_APP = 0x1

IDOK = 1
IDD_ABOUTBOX = 100
IDS_ABOUTBOX = 101
IDD_VANDREL_DIALOG = 102
IDR_MAINFRAME = 128

# --- What the program may import -------------------------------------------------------------

# The static runtime leaves only the system's own DLLs.
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}

# Functions that Windows XP's system DLLs do not export. Importing any of them stops the program
# from loading there ("entry point not found"). Extend the list when a newer API shows up.
NOT_ON_XP = {
    # kernel32: Vista or later
    "CancelIoEx", "CancelSynchronousIo", "GetTickCount64", "GetErrorMode",
    "InitializeSRWLock", "AcquireSRWLockExclusive", "AcquireSRWLockShared",
    "ReleaseSRWLockExclusive", "ReleaseSRWLockShared",
    "InitializeConditionVariable", "SleepConditionVariableCS", "SleepConditionVariableSRW",
    "WakeConditionVariable", "WakeAllConditionVariable",
    "InitOnceExecuteOnce", "InitOnceBeginInitialize", "InitOnceComplete",
    "InitializeCriticalSectionEx",
    "CreateEventExA", "CreateEventExW", "CreateMutexExA", "CreateMutexExW",
    "CreateSemaphoreExA", "CreateSemaphoreExW",
    "GetFileInformationByHandleEx", "SetFileInformationByHandle",
    "GetFinalPathNameByHandleA", "GetFinalPathNameByHandleW",
    "CreateSymbolicLinkA", "CreateSymbolicLinkW",
    "GetLocaleInfoEx", "LCMapStringEx", "CompareStringEx", "GetUserDefaultLocaleName",
    "LocaleNameToLCID", "LCIDToLocaleName",
    "QueryFullProcessImageNameA", "QueryFullProcessImageNameW",
    "GetQueuedCompletionStatusEx", "SetFileCompletionNotificationModes",
    "WerRegisterRuntimeExceptionModule", "GetCurrentProcessorNumber",
    "FlushProcessWriteBuffers", "InterlockedCompareExchange64",
    "CreateThreadpoolWork", "SubmitThreadpoolWork", "CloseThreadpoolWork",
    "GetDynamicTimeZoneInformation",
    # kernel32: Windows Server 2003 / XP x64 only, absent from 32-bit XP
    "FlsAlloc", "FlsFree", "FlsGetValue", "FlsSetValue", "SetThreadStackGuarantee",
    "GetThreadId",
    # kernel32: Windows 7 or later
    "SetThreadErrorMode", "GetThreadErrorMode", "RaiseFailFastException",
    "TryAcquireSRWLockExclusive", "TryAcquireSRWLockShared",
    # kernel32: Windows 8 or later
    "GetOverlappedResultEx", "GetSystemTimePreciseAsFileTime", "SetDefaultDllDirectories",
    "AddDllDirectory", "RemoveDllDirectory",
    # advapi32: Vista or later (some on XP x64 only)
    "RegGetValueA", "RegGetValueW", "RegDeleteKeyExA", "RegDeleteKeyExW",
    "RegDeleteTreeA", "RegDeleteTreeW", "RegSetKeyValueA", "RegSetKeyValueW",
    "RegCopyTreeA", "RegCopyTreeW", "RegLoadMUIStringA", "RegLoadMUIStringW",
    "EventRegister", "EventUnregister", "EventWrite",
    # setupapi and cfgmgr32: device properties, Vista or later (brandcli looks them up at run
    # time, and reads a parent through CM_Get_Parent where they are missing)
    "SetupDiGetDevicePropertyW", "SetupDiGetDevicePropertyKeys", "SetupDiSetDevicePropertyW",
    "CM_Get_DevNode_PropertyW", "CM_Get_DevNode_PropertyKeys",
    # user32: Vista or later
    "SetProcessDPIAware", "IsProcessDPIAware", "ChangeWindowMessageFilter",
    "ChangeWindowMessageFilterEx", "AddClipboardFormatListener",
    "ShutdownBlockReasonCreate", "RegisterPowerSettingNotification",
    "SetProcessDpiAwarenessContext", "GetDpiForWindow",
}


def not_on_xp(dll, function):
    """True for an import that XP cannot satisfy."""
    if function in NOT_ON_XP:
        return True
    # The bounds-checked "_s" functions entered msvcrt.dll only with Vista.
    return dll == "msvcrt.dll" and function.endswith("_s")


# --- Loading ---------------------------------------------------------------------------------


def exe_path(build, program):
    return BUILD_DIR / build / (program + ".exe")


@functools.lru_cache(maxsize=None)
def load(build, program):
    path = exe_path(build, program)
    if not path.is_file():
        pytest.fail("%s build not found at %s: build the programs first" % (build, path))
    return pefile.PE(str(path))


@pytest.fixture(params=[(b, p) for b in BUILDS for p in PROGRAMS], ids="-".join)
def exe(request):
    """(build, program, PE) of each program in each build."""
    return request.param + (load(*request.param),)


@pytest.fixture(params=BUILDS)
def dialog_exe(request):
    """(build, PE) of the dialog program, for the resources only it has."""
    return request.param, load(request.param, "brand")


def resources(pe):
    """{(type, id): data} for every resource with a numeric type and id, one language each."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if rtype.name is not None:
            continue
        for rid in rtype.directory.entries:
            if rid.name is not None:
                continue
            langs = rid.directory.entries
            assert len(langs) == 1, "resource %d/%d has %d languages" % (
                rtype.id, rid.id, len(langs))
            entry = langs[0].data.struct
            found[(rtype.id, rid.id)] = pe.get_data(entry.OffsetToData, entry.Size)
    return found


def resource(pe, rtype, rid):
    data = resources(pe).get((rtype, rid))
    assert data is not None, "resource type %d id %d is missing" % (rtype, rid)
    return data


# --- Headers and imports ---------------------------------------------------------------------


def test_machine_type(exe):
    build, _, pe = exe
    expected = {"win32": IMAGE_FILE_MACHINE_I386, "win64": IMAGE_FILE_MACHINE_AMD64}[build]
    assert pe.FILE_HEADER.Machine == expected
    magic = {"win32": pefile.OPTIONAL_HEADER_MAGIC_PE,
             "win64": pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS}[build]
    assert pe.OPTIONAL_HEADER.Magic == magic


# The dialog is a windows program; brandcli is run from a command prompt or a script.
SUBSYSTEM = {"brand": IMAGE_SUBSYSTEM_WINDOWS_GUI, "brandcli": IMAGE_SUBSYSTEM_WINDOWS_CUI}


def test_subsystem_loadable_on_xp(exe):
    _, program, pe = exe
    header = pe.OPTIONAL_HEADER
    assert header.Subsystem == SUBSYSTEM[program]
    version = (header.MajorSubsystemVersion, header.MinorSubsystemVersion)
    assert version <= (5, 1), "subsystem version %d.%d is newer than Windows XP" % version


# The shipped programs must stay small downloads for bench PCs. The dialog was 56 KB when its
# limit was set (28 KB since MinGW's own printf stays out), so crossing it means something large
# (a C++ library part, MinGW's printf, exception support) slipped in; brandcli, at 52 KB, is
# mostly the C runtime's start-up code and its standard containers (7.5 KB of it the USB identity
# of its records).
SIZE_LIMIT = {"brand": 200 * 1024, "brandcli": 64 * 1024}


@pytest.mark.parametrize("program", PROGRAMS)
def test_shipped_program_is_small(program):
    load("win32", program)  # fails the test when it is not built
    size = exe_path("win32", program).stat().st_size
    print("shipped %s: %d bytes" % (program, size))
    assert size < SIZE_LIMIT[program], "%s.exe is %d bytes" % (program, size)


def imports(pe):
    """[(dll in lower case, function name or #ordinal)] from the normal and delay-load tables."""
    found = []
    for table in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        for entry in getattr(pe, table, []):
            dll = entry.dll.decode("ascii").lower()
            for imp in entry.imports:
                found.append((dll, imp.name.decode("ascii") if imp.name else "#%d" % imp.ordinal))
    return found


# What each program cannot do without: windows, or the registry's list of ports.
NEEDED_DLLS = {"brand": {"kernel32.dll", "user32.dll"}, "brandcli": {"kernel32.dll", "advapi32.dll"}}


def test_imports_only_system_dlls(exe):
    _, program, pe = exe
    found = imports(pe)
    assert found, "no imports at all: not a real program"
    dlls = {dll for dll, _ in found}
    assert dlls <= ALLOWED_DLLS, "imports from %s" % sorted(dlls - ALLOWED_DLLS)
    assert NEEDED_DLLS[program] <= dlls
    if program == "brandcli":
        # SetupAPI is loaded at run time, only for the records and filters that need it.
        assert dlls == {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}, sorted(dlls)


def test_imports_nothing_xp_lacks(exe):
    _, _, pe = exe
    bad = sorted("%s!%s" % (dll, fn) for dll, fn in imports(pe) if not_on_xp(dll, fn))
    assert not bad, "imports missing on Windows XP: %s" % ", ".join(bad)


# A precondition of the XP check above, not a test of the program: the reject list must refuse a
# few functions XP lacks and pass a few it has. Checked as the module loads; a failure stops the
# run.
_XP_SAMPLES = {("kernel32.dll", "GetTickCount64"): True, ("kernel32.dll", "CancelIoEx"): True,
               ("advapi32.dll", "RegGetValueA"): True, ("msvcrt.dll", "strcpy_s"): True,
               ("setupapi.dll", "SetupDiGetDevicePropertyW"): True,
               ("setupapi.dll", "SetupDiGetClassDevsA"): False,
               ("kernel32.dll", "CreateFileA"): False, ("kernel32.dll", "GetTickCount"): False,
               ("msvcrt.dll", "atoi"): False}
if any(not_on_xp(*sample) != rejected for sample, rejected in _XP_SAMPLES.items()):
    raise RuntimeError("precondition: the XP reject list misjudges one of %s" % _XP_SAMPLES)


# --- Version record --------------------------------------------------------------------------


def align4(n):
    return (n + 3) & ~3


def read_wstr(data, pos, end=None):
    """A NUL-terminated UTF-16LE string at pos: (text, position after the NUL)."""
    end = len(data) if end is None else end
    i = pos
    while i + 1 < end and data[i:i + 2] != b"\0\0":
        i += 2
    return data[pos:i].decode("utf-16-le"), i + 2


def version_node(data, pos):
    """One VS_VERSIONINFO-style node: (key, type, value bytes or text, children)."""
    length, value_length, vtype = struct.unpack_from("<HHH", data, pos)
    end = pos + length
    assert length >= 6 and end <= len(data), "broken version node at %d" % pos
    key, p = read_wstr(data, pos + 6, end)
    p = align4(p)
    if vtype == 1 and value_length:
        value, _ = read_wstr(data, p, end)
        p = end
    else:
        value = data[p:p + value_length]
        p = align4(p + value_length)
    children = []
    while p < end:
        child, size = version_node(data, p)
        children.append(child)
        p = align4(p + size)
    return (key, vtype, value, children), length


def version_record(pe):
    root, _ = version_node(resource(pe, RT_VERSION, 1), 0)
    return root


def test_version_fixed_part(exe):
    _, _, pe = exe
    key, _, fixed, _ = version_record(pe)
    assert key == "VS_VERSION_INFO"
    assert len(fixed) == 52
    (signature, _, file_ms, file_ls, product_ms, product_ls, flags_mask, flags, file_os,
     file_type, file_subtype, _, _) = struct.unpack("<13I", fixed)
    assert signature == 0xFEEF04BD
    assert (file_ms, file_ls) == (0x00010000, 0x00000001), "FileVersion is not 1.0.0.1"
    assert (product_ms, product_ls) == (0x00010000, 0x00000001), "ProductVersion is not 1.0.0.1"
    assert flags_mask == 0x3F
    assert flags == 0
    assert file_os == VOS__WINDOWS32
    assert file_type == VFT_APP
    assert file_subtype == 0


ANY_TEXT = object()  # a legal notice: any non-empty text

# Each program's string table (language and code page), its strings in order, and its language.
VERSION_STRINGS = {
    "brand": ("080404B0", 0x0804, {
        "FileDescription": "Vandrel Microsoft 基础类应用程序",
        "FileVersion": "1, 0, 0, 1",
        "InternalName": "Vandrel",
        "LegalCopyright": ANY_TEXT,
        "OriginalFilename": "Vandrel.EXE",
        "ProductName": "Vandrel 应用程序",
        "ProductVersion": "1, 0, 0, 1",
    }),
    "brandcli": ("040904B0", 0x0409, {
        "FileDescription": "Brand command line: sets the brand of a device on a serial port",
        "FileVersion": "1.0.0.1",
        "InternalName": "brandcli",
        "LegalCopyright": ANY_TEXT,
        "OriginalFilename": "brandcli.exe",
        "ProductName": "Brand",
        "ProductVersion": "1.0.0.1",
    }),
}


def test_version_strings_and_translation(exe):
    _, program, pe = exe
    table, language, expected = VERSION_STRINGS[program]
    _, _, _, children = version_record(pe)
    blocks = {c[0]: c for c in children}
    assert sorted(blocks) == ["StringFileInfo", "VarFileInfo"]

    tables = blocks["StringFileInfo"][3]
    assert [t[0] for t in tables] == [table], "expected one string table " + table
    entries = [(c[0], c[2]) for c in tables[0][3]]
    assert [k for k, _ in entries] == list(expected)
    for key, value in entries:
        if expected[key] is ANY_TEXT:
            assert value.strip(), key
        else:
            assert value == expected[key], key

    var = blocks["VarFileInfo"][3]
    assert [(v[0], v[2]) for v in var] == [("Translation", struct.pack("<HH", language, 0x04B0))]


def test_release_is_dated_by_the_commit_and_named_for_the_tree():
    """Two releases of one commit must be the same bytes: the programs' link time and the zip's
    dates are the commit time, read here from the tree's own repository (SOURCE_DATE_EPOCH where
    it has none), not from the build's stamp. A tree with uncommitted changes is not that commit:
    the zip's names and brandcli's version then say "-dirty" (cmake/build_stamp.cmake,
    tools/release.sh)."""
    try:
        stamp, label = source_tree.commit_time(ROOT), source_tree.label(ROOT)
    except source_tree.SourceTreeError as error:
        pytest.fail(str(error))
    for program in PROGRAMS:
        linked = load("win32", program).FILE_HEADER.TimeDateStamp
        assert linked == stamp, "%s.exe is stamped %d, the commit %d" % (program, linked, stamp)
    cli = exe_path("win32", "brandcli").read_bytes()
    shown = (label.encode() + b"\0" in cli, b"-dirty\0" in cli)
    assert shown == (True, label.endswith("-dirty")), "brandcli.exe does not say %s" % label
    path = source_tree.release_zip(ROOT)
    if not path.exists():
        pytest.fail("%s is missing: tools/release.sh makes it (tools/test.sh runs it)" % path)
    when = time.gmtime(stamp)[:6]
    when = when[:5] + (when[5] // 2 * 2,)  # a zip stores seconds in steps of two
    with zipfile.ZipFile(path) as archive:
        entries = archive.infolist()
    assert "Brand-%s/brandcli.exe" % label in [entry.filename for entry in entries]
    assert {(entry.date_time, entry.create_system) for entry in entries} == {(when, 3)}, entries


# --- Manifest --------------------------------------------------------------------------------


def local(tag):
    return tag.rsplit("}", 1)[-1]


def test_manifest(dialog_exe):
    _, pe = dialog_exe
    root = ElementTree.fromstring(resource(pe, RT_MANIFEST, 1))
    elements = list(root.iter())
    levels = [e for e in elements if local(e.tag) == "requestedExecutionLevel"]
    assert len(levels) == 1
    assert levels[0].get("level") == "asInvoker"
    assert levels[0].get("uiAccess") == "false"
    dpi = [e for e in elements if local(e.tag) == "dpiAware"]
    assert len(dpi) == 1 and (dpi[0].text or "").strip().lower() == "true"
    # The classic control look: no side-by-side dependency (common controls 6 or any other).
    assert not [e for e in elements if local(e.tag) in ("dependency", "dependentAssembly")]


# --- Icon ------------------------------------------------------------------------------------


def test_group_icon(dialog_exe):
    _, pe = dialog_exe
    group = resource(pe, RT_GROUP_ICON, IDR_MAINFRAME)
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    assert (reserved, kind) == (0, 1)
    assert count == 2
    assert len(group) == 6 + 14 * count
    sizes = []
    for i in range(count):
        width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", group, 6 + 14 * i)
        sizes.append((width, height))
        assert colours == 16, "image %dx%d has %d colours" % (width, height, colours)
        assert (planes, bits) == (1, 4)
        image = resource(pe, RT_ICON, icon_id)
        assert len(image) == size
        # The image itself: a 4-bit DIB with 16 palette entries, its colour bitmap and AND mask.
        header = struct.unpack_from("<IiiHHI", image, 0)
        assert header == (40, width, 2 * height, 1, 4, 0)
        stride_colour = (width * 4 + 31) // 32 * 4
        stride_mask = (width + 31) // 32 * 4
        assert size == 40 + 16 * 4 + height * (stride_colour + stride_mask)
    assert sizes == [(32, 32), (16, 16)]


# --- String table ----------------------------------------------------------------------------


def string_resource(pe, sid):
    block = resource(pe, RT_STRING, sid // 16 + 1)
    pos = 0
    for _ in range(sid % 16):
        (length,) = struct.unpack_from("<H", block, pos)
        pos += 2 + 2 * length
    (length,) = struct.unpack_from("<H", block, pos)
    return block[pos + 2:pos + 2 + 2 * length].decode("utf-16-le")


def test_about_menu_text(dialog_exe):
    _, pe = dialog_exe
    assert string_resource(pe, IDS_ABOUTBOX) == "关于 Vandrel(&A)..."


# --- Dialog templates ------------------------------------------------------------------------


def read_sz_or_ord(data, pos):
    """A DLGTEMPLATEEX name field: None, an ordinal (int) or a string."""
    (first,) = struct.unpack_from("<H", data, pos)
    if first == 0:
        return None, pos + 2
    if first == 0xFFFF:
        (ordinal,) = struct.unpack_from("<H", data, pos + 2)
        return ordinal, pos + 4
    return read_wstr(data, pos)


def parse_dialog(data):
    """Decodes a DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items."""
    version, signature, _, ex_style, style, count, x, y, cx, cy = struct.unpack_from(
        "<HHIIIHhhhh", data, 0)
    assert (version, signature) == (1, 0xFFFF), "not an extended dialog template"
    pos = 26
    menu, pos = read_sz_or_ord(data, pos)
    klass, pos = read_sz_or_ord(data, pos)
    caption, pos = read_wstr(data, pos)
    dialog = dict(style=style, ex_style=ex_style, rect=(x, y, cx, cy), menu=menu, klass=klass,
                  caption=caption, font=None, controls=[])
    if style & DS_SETFONT:
        points, weight, italic, charset = struct.unpack_from("<HHBB", data, pos)
        face, pos = read_wstr(data, pos + 6)
        dialog["font"] = (face, points, weight, italic, charset)
    for _ in range(count):
        pos = align4(pos)
        _, c_ex_style, c_style, x, y, cx, cy, cid = struct.unpack_from("<IIIhhhhi", data, pos)
        pos += 24
        c_class, pos = read_sz_or_ord(data, pos)
        text, pos = read_sz_or_ord(data, pos)
        (extra,) = struct.unpack_from("<H", data, pos)
        pos += 2 + extra
        dialog["controls"].append(dict(id=cid, klass=c_class, text=text or "", rect=(x, y, cx, cy),
                                       style=c_style, ex_style=c_ex_style))
    assert pos <= len(data)
    return dialog


SONG_TI_9 = ("宋体", 9, FW_NORMAL, 0, DEFAULT_CHARSET)
CHILD = WS_CHILD | WS_VISIBLE
COMBO = CHILD | CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP

MAIN_DIALOG = dict(
    style=DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU
    | WS_MINIMIZEBOX,
    ex_style=WS_EX_APPWINDOW,
    rect=(0, 0, 209, 201),
    caption="设置商标",
    font=SONG_TI_9,
    controls=[
        # id, class, text, rectangle, style
        (IDOK, BUTTON, "Close", (39, 153, 135, 20), CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP),
        (-1, BUTTON, "", (7, 7, 195, 187), CHILD | BS_GROUPBOX),
        (1000, COMBOBOX, "", (38, 32, 49, 52), COMBO),
        (1005, EDIT, "", (112, 34, 73, 12), CHILD | ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP),
        (1003, BUTTON, "Set", (123, 69, 54, 20), CHILD | BS_PUSHBUTTON | WS_TABSTOP),
        (1004, COMBOBOX, "", (37, 72, 70, 92), COMBO),
        (1006, BUTTON, "Set", (125, 105, 54, 20), CHILD | BS_PUSHBUTTON | WS_TABSTOP),
        (1007, COMBOBOX, "", (39, 108, 70, 92), COMBO),
    ],
)

ABOUT_DIALOG = dict(
    style=DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
    ex_style=0,
    rect=(0, 0, 235, 55),
    caption="关于 Vandrel",
    font=SONG_TI_9,
    controls=[
        (-1, STATIC, IDR_MAINFRAME, (11, 17, 20, 20), CHILD | SS_ICON),
        (-1, STATIC, "Vandrel 1.0 版", (40, 10, 119, 8), CHILD | SS_LEFT | SS_NOPREFIX | WS_GROUP),
        (-1, STATIC, ANY_TEXT, (40, 25, 119, 8), CHILD | SS_LEFT | WS_GROUP),
        (IDOK, BUTTON, "确定", (178, 7, 50, 14),
         CHILD | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP),
    ],
)


def check_dialog(actual, expected):
    assert actual["menu"] is None and actual["klass"] is None
    assert actual["style"] == expected["style"], "dialog style %#x, expected %#x (diff %#x)" % (
        actual["style"], expected["style"], actual["style"] ^ expected["style"])
    assert actual["ex_style"] == expected["ex_style"]
    assert actual["rect"] == expected["rect"]
    assert actual["caption"] == expected["caption"]
    assert actual["font"] == expected["font"]
    got = actual["controls"]
    assert [c["id"] for c in got] == [e[0] for e in expected["controls"]], "ids or tab order"
    for c, (cid, klass, text, rect, style) in zip(got, expected["controls"]):
        where = "control %d (%r)" % (cid, c["text"])
        assert c["klass"] == klass, where
        if text is ANY_TEXT:
            assert isinstance(c["text"], str) and c["text"].strip(), where
        else:
            assert c["text"] == text, where
        assert c["rect"] == rect, where
        assert c["style"] == style, "%s: style %#x, expected %#x (diff %#x)" % (
            where, c["style"], style, c["style"] ^ style)
        assert c["ex_style"] == 0, where


def test_main_dialog(dialog_exe):
    _, pe = dialog_exe
    check_dialog(parse_dialog(resource(pe, RT_DIALOG, IDD_VANDREL_DIALOG)), MAIN_DIALOG)


def test_about_dialog(dialog_exe):
    _, pe = dialog_exe
    check_dialog(parse_dialog(resource(pe, RT_DIALOG, IDD_ABOUTBOX)), ABOUT_DIALOG)
