"""Running the Windows builds under Wine, safely and quickly, from tests.

Everything Wine-related runs as the unprivileged user ``brandtest`` (created by tools/setup.sh),
never as root: Wine maps COM1 to /dev/ttyS0, the machine's console, and that user cannot open
it. :func:`check_serial_devices_closed` proves this once per run and every mapping is checked
against /dev/ttyS*.

Typical use::

    session = shared_session()              # one per test run
    prefix = session.new_prefix()           # a copy of the run's template prefix
    exe = session.install(build_dir / "serial_probe.exe")
    with FakeDevice() as device:            # harness/fake_device.py
        prefix.map_port(5, device.path)     # COM5 -> the device's pty; restarts the server
        result = prefix.run([exe, "open", "5"])
    prefix.close()
    session.close()

The template prefix is made once (``wineboot -u``, about 45 s) with quiet defaults, the X11
driver settings for a display without a window manager, and Chinese font replacements, and kept
for later runs (prefix_cache.py); each :meth:`WineSession.new_prefix` copies it (about 2 s). Each prefix keeps its own wineserver
running (``wineserver -p``) so a program starts in tens of milliseconds; :meth:`WinePrefix.close`
stops it.

What the harness reads is what a command printed: a registry read or a server stop that fails
raises HarnessError, naming the command and its output, and never passes for an empty answer.
Wine now and then fails to make a process at all (:func:`start_failed`); such a start is made
again, once, where nothing of the program has been seen yet, and counted for the test command.
A COM port leads to a tty through :meth:`WinePrefix.map_port` or, while programs run,
:meth:`WinePrefix.link_port`; both refuse the machine's own ports.

Programs started here are children of the test process (the exit of a process that is not a
child is seen late), and their ANSI code page follows ``lang``: ``C.UTF-8`` gives 1252,
``zh_CN.UTF-8`` gives 936.

32-bit programs (the shipped build) run only in a WoW64 prefix from
:meth:`WineSession.new_wow64_prefix`, where the registered qemu-i386 (harness/emulator.py)
emulates the 32-bit Wine loader: a copy of the run's WoW64 template (made once, about a minute,
and kept for later runs too), and a few tenths of a second more per program start than a 64-bit
one. :func:`wow64_missing` says what the machine lacks for that, a qemu older than 10 included.
"""

import atexit
import errno
import os
import pathlib
import pwd
import shutil
import subprocess
import tempfile
import time

import emulator
from prefix_cache import PrefixCache

USER = "brandtest"
WINE = "/usr/lib/wine/wine64"
WINE32 = emulator.I386_PROGRAM  # the 32-bit loader (wine32:i386), run by the registered qemu-i386
WINESERVER = "/usr/lib/wine/wineserver"

# qemu-user reserves the 32-bit guest's address space up front. WoW64 Wine needs the full 3 GB
# (less, and it cannot map its shared user data), from the prefix's creation on. With a 2 GB
# reservation every 32-bit process fails at once, which keeps the 64-bit prefixes' wineboot from
# setting up their 32-bit side under emulation: minutes instead of seconds.
RESERVED_VA_WOW64 = "0xc0000000"
RESERVED_VA_NO_WOW64 = "0x80000000"

LANG_WESTERN = "C.UTF-8"  # ANSI code page 1252
LANG_CHINESE = "zh_CN.UTF-8"  # ANSI code page 936

PORTS_KEY = r"HKLM\Software\Wine\Ports"
SERIALCOMM_KEY = r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM"

FONT_REPLACEMENTS = ("宋体", "SimSun")
FONT_REPLACEMENT_TARGET = "WenQuanYi Zen Hei"
# Wine draws the caption buttons with its Marlett font (package fonts-wine), but this Wine finds
# its own fonts only in the prefix's Fonts folder: without a copy there the buttons show as the
# letters "0 1 r".
CAPTION_FONT = "/usr/share/wine/fonts/marlett.ttf"

# Every new prefix's settings: X11 windows for a display without a window manager (Wine draws the
# title bars, and no window's destruction waits for a manager that is not there), and the
# Chinese dialog font's faces mapped to a font that has the glyphs.
PREFIX_SETTINGS = [
    (r"HKCU\Software\Wine\X11 Driver", "Decorated", "N"),
    (r"HKCU\Software\Wine\X11 Driver", "Managed", "N"),
] + [(r"HKCU\Software\Wine\Fonts\Replacements", face, FONT_REPLACEMENT_TARGET)
     for face in FONT_REPLACEMENTS]

_FORBIDDEN_PREFIX = "/dev/ttyS"

# What reg prints (on stdout, exit code 1) for a key that does not exist.
REG_NO_KEY = "reg: Unable to find the specified registry key"

# The programs that make a Windows process, and can fail to (see start_failed).
LOADERS = (WINE, WINE32)

# Each start that Wine failed to make and the harness made again is appended to the file this
# names, one line each, so the test command can count them over the whole run.
REPEATED_STARTS_ENV = "BRAND_REPEATED_STARTS"
repeated_starts = []  # this process's, for the test run's summary


class HarnessError(RuntimeError):
    pass


def start_failed(result):
    """Whether Wine failed to make the process of `result` (a finished process with its
    ``returncode`` and the bytes it printed, ``stdout`` and ``stderr``).

    About one start in three thousand, Wine's loader stops before any of the program runs ("failed
    to map the shared user data", which WINEDEBUG=-all keeps quiet), with exit code 1 and no
    output, whatever the program. No program of ours ends with 1 without printing a line, and a
    crash ends with the low byte of its exception code (5 for an access violation), so that exit
    is Wine's and the start may be made again, once.
    """
    return result.returncode == 1 and not result.stdout and not result.stderr


def _start_repeated(args, attempt):
    """Counts a start made again; a second failed start of the same command is an error."""
    what = _command_text(args)
    if attempt > 1:
        raise HarnessError("Wine failed to start %s twice in a row (exit 1, no output)" % what)
    repeated_starts.append(what)
    log = os.environ.get(REPEATED_STARTS_ENV)
    if log:
        with open(log, "a") as f:
            f.write(what + "\n")
    time.sleep(0.5)


def _command_text(args):
    return " ".join(os.path.basename(str(a)) if i == 0 else str(a) for i, a in enumerate(args))


def _printed(result):
    """What a finished process printed, stdout then stderr, as one line of text."""
    text = b" ".join(part.strip() for part in (result.stdout, result.stderr) if part.strip())
    return text.decode(errors="replace").replace("\r\n", " / ").replace("\n", " / ")


def _process_name(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return "%d (%s)" % (pid, f.read().replace(b"\0", b" ").decode(errors="replace").strip())
    except OSError:
        return str(pid)


def user_ids(user=USER):
    """``(uid, gid, home)`` of the test user; raises HarnessError if it does not exist."""
    try:
        entry = pwd.getpwnam(user)
    except KeyError:
        raise HarnessError("user %s missing: run tools/setup.sh" % user) from None
    return entry.pw_uid, entry.pw_gid, entry.pw_dir


def as_user(command, user=USER):
    """`command` (a list) prefixed so that it runs as the test user when we are root."""
    if os.geteuid() != 0:
        return list(command)
    return ["setpriv", "--reuid=" + user, "--regid=" + user, "--init-groups"] + list(command)


def chown_to_user(path, user=USER):
    uid, gid, _ = user_ids(user)
    if os.geteuid() == 0:
        os.chown(path, uid, gid)


def assert_safe_tty_path(path):
    """Refuses any path that is, or resolves to, one of the machine's own serial ports."""
    for candidate in (str(path), os.path.realpath(str(path))):
        if candidate.startswith(_FORBIDDEN_PREFIX):
            raise HarnessError("refusing to map the machine's serial port %s" % path)


_serial_devices_checked = False


def check_serial_devices_closed(user=USER):
    """Verifies that the test user can open none of /dev/ttyS*; raises HarnessError otherwise.

    Each device is tried in a child running as the user, opened non-blocking so a real port with
    no carrier cannot hang the check. Done once per process.
    """
    global _serial_devices_checked
    if _serial_devices_checked:
        return
    devices = sorted(str(p) for p in pathlib.Path("/dev").glob("ttyS*"))
    if devices:
        probe = (
            "import os,sys\n"
            "bad=[]\n"
            "for d in sys.argv[1:]:\n"
            "    try:\n"
            "        os.close(os.open(d, os.O_RDWR|os.O_NONBLOCK|os.O_NOCTTY))\n"
            "        bad.append(d)\n"
            "    except PermissionError:\n"
            "        pass\n"
            "    except OSError as e:\n"
            "        if e.errno not in (%d, %d):\n"  # EACCES/EPERM-like refusals only
            "            bad.append(d + ':' + str(e))\n"
            "print(' '.join(bad))\n" % (errno.EACCES, errno.EPERM)
        )
        out = subprocess.run(
            as_user(["/usr/bin/python3", "-c", probe] + devices, user),
            capture_output=True,
            text=True,
            cwd="/",
            check=True,
        ).stdout.strip()
        if out:
            raise HarnessError(
                "%s can open the machine's serial ports (%s): run tools/setup.sh" % (user, out)
            )
    _serial_devices_checked = True


def check_safety(user=USER):
    """Both safety rules hold: the test user can open none of /dev/ttyS*, and the harness refuses
    to map or link one to a COM port, also through a link. Raises HarnessError otherwise."""
    check_serial_devices_closed(user)
    folder = pathlib.Path(tempfile.mkdtemp(prefix="brand-safety-"))
    link = folder / "port"
    link.symlink_to("/dev/ttyS0")
    (folder / "dosdevices").mkdir()
    prefix = WinePrefix(folder, user)
    try:
        for path in ("/dev/ttyS0", link):
            for make in (assert_safe_tty_path, lambda target: prefix.link_port(1, target)):
                try:
                    make(path)
                except HarnessError:
                    continue
                raise HarnessError("the harness would map %s to a COM port" % path)
        if os.path.lexists(prefix.port_link(1)):
            raise HarnessError("the harness linked COM1 to %s" % os.readlink(prefix.port_link(1)))
    finally:
        shutil.rmtree(folder)


def pe_is_32bit(path):
    """True for an i386 Windows executable."""
    with open(path, "rb") as f:
        header = f.read(4096)
    offset = int.from_bytes(header[0x3C:0x40], "little")
    return header[offset:offset + 4] == b"PE\0\0" and header[offset + 4:offset + 6] == b"\x4c\x01"


def wow64_missing():
    """What this machine lacks to run 32-bit Windows programs, or None when nothing is."""
    if not os.path.exists(WINE32):
        return "the 32-bit Wine loader %s is missing (package wine32:i386)" % WINE32
    try:
        with open(emulator.BINFMT_I386) as f:
            handler = f.read()
    except OSError:
        return ("no binfmt_misc handler runs i386 programs (%s): the kernel runs no 32-bit code "
                "and binfmt_misc is not mounted or qemu-i386 not registered" % emulator.BINFMT_I386)
    if not handler.startswith("enabled") or "flags: F" not in handler:
        return "the qemu-i386 binfmt_misc handler is disabled or lacks the F flag: %s" % (
            " ".join(handler.split()))
    return emulator.too_old()


def user_dir(prefix="brand-wine-", user=USER):
    """A new temporary folder owned by the test user (mode 0700)."""
    path = tempfile.mkdtemp(prefix=prefix)
    chown_to_user(path, user)
    return pathlib.Path(path)


class UnopenableTty:
    """A pty the test user may not open: created by root, mode 0600.

    Wine does not enforce exclusive opens, so this stands in for a port that is busy or
    otherwise refuses to open. Keep the object alive while the port is mapped.
    """

    def __init__(self):
        if os.geteuid() == 0:
            self._master, self._slave = os.openpty()
            self.path = os.ttyname(self._slave)
            os.chmod(self.path, 0o600)
            os.chown(self.path, 0, 0)
        else:
            raise HarnessError("an unopenable tty needs root to create it")

    def close(self):
        for fd in (self._slave, self._master):
            try:
                os.close(fd)
            except OSError:
                pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Xvfb:
    """A virtual X display (``Xvfb -displayfd``); :attr:`display` is e.g. ``":5"``."""

    def __init__(self, size="1024x768x24", user=USER, timeout=15.0):
        read_fd, write_fd = os.pipe()
        self._proc = subprocess.Popen(
            as_user(
                [
                    "Xvfb",
                    "-displayfd",
                    str(write_fd),
                    "-screen",
                    "0",
                    size,
                    "-nolisten",
                    "tcp",
                ],
                user,
            ),
            pass_fds=(write_fd,),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            cwd="/",
        )
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + timeout
        try:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = os.read(read_fd, 16)
                if not chunk:
                    break
                number += chunk
        finally:
            os.close(read_fd)
        if not number.strip():
            self.stop()
            raise HarnessError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def stop(self):
        if self._proc.poll() is None:
            self._proc.terminate()
            try:
                self._proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class WineProcess(subprocess.Popen):
    """A Windows program started by :meth:`WinePrefix.spawn`.

    Output that the caller discards goes to a file instead, so that whether the program printed
    anything can still be told (see :func:`start_failed`); :meth:`WinePrefix.start_again` makes
    the same start once more."""

    def __init__(self, command, again, **popen_args):
        self._discarded = {}
        for stream in ("stdout", "stderr"):
            if popen_args.get(stream) == subprocess.DEVNULL:
                popen_args[stream] = self._discarded[stream] = tempfile.TemporaryFile()
        self.again = again
        self.attempt = 1
        self.loader = next(a for a in command if a in LOADERS)
        self.argv = command[command.index(self.loader) + 1:]
        self.started = time.monotonic()
        super().__init__(command, **popen_args)

    def finished(self, out=b"", err=b""):
        """The ended process as a CompletedProcess of bytes: `out` and `err` (what the caller
        read from its pipes), or what went to the files standing in for discarded output."""
        printed = {"stdout": out or b"", "stderr": err or b""}
        for stream, f in self._discarded.items():
            f.seek(0)
            printed[stream] = f.read()
        return subprocess.CompletedProcess(self.argv, self.returncode, printed["stdout"],
                                           printed["stderr"])


class WinePrefix:
    """One Wine prefix with its own wineserver. Made by :meth:`WineSession.new_prefix` or, to run
    32-bit programs too, :meth:`WineSession.new_wow64_prefix`."""

    def __init__(self, path, user=USER, wow64=False):
        self.path = pathlib.Path(path)
        self.user = user
        self.wow64 = wow64
        self._server = None
        # The display every process of this prefix gets unless told otherwise. The first Wine
        # process of a fresh server starts Wine's desktop process, and one started without a
        # display (a registry edit, say) leaves every later window of the prefix without one.
        self.display = None

    # -- environment and commands ------------------------------------------------------------

    def env(self, lang=LANG_WESTERN, display=None, extra=None):
        """The environment of every Wine process of this prefix."""
        _, _, home = user_ids(self.user)
        env = {
            "HOME": home,
            "USER": self.user,
            "LOGNAME": self.user,
            "PATH": "/usr/bin:/bin",
            "WINEPREFIX": str(self.path),
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "LANG": lang,
            "LC_ALL": lang,
            "QEMU_RESERVED_VA": RESERVED_VA_WOW64 if self.wow64 else RESERVED_VA_NO_WOW64,
        }
        display = display or self.display
        if display:
            env["DISPLAY"] = display
        if extra:
            env.update(extra)
        return env

    def _tool(self, args, timeout=120, check=True):
        # Output goes to files, never pipes: the first Wine program of a server starts Wine's
        # own background services, which inherit its standard handles and outlive it, so a
        # pipe would never reach end-of-file.
        for attempt in (1, 2):
            with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                result = subprocess.run(
                    as_user(args, self.user),
                    env=self.env(),
                    stdin=subprocess.DEVNULL,
                    stdout=out,
                    stderr=err,
                    timeout=timeout,
                    cwd="/",
                )
                out.seek(0)
                err.seek(0)
                result.stdout, result.stderr = out.read(), err.read()
            if args[0] not in LOADERS or not start_failed(result):
                break
            _start_repeated(args, attempt)
        if check and result.returncode != 0:
            raise HarnessError("%s failed (%d): %s" % (_command_text(args), result.returncode,
                                                       _printed(result)))
        return result

    # -- wineserver ---------------------------------------------------------------------------

    def start_server(self):
        """Keeps a wineserver running for this prefix until :meth:`stop_server`, and starts
        Wine's background services (device manager, COM ports) so that programs started later
        find the port mapping and the SERIALCOMM key in place."""
        if self._server is not None and self._server.poll() is None:
            return
        self._server = subprocess.Popen(
            as_user([WINESERVER, "-p", "-f"], self.user),
            env=self.env(),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            cwd="/",
        )
        self._tool([WINE, "cmd", "/c", "exit"])

    def stop_server(self, timeout=10.0):
        """Stops the wineserver and every Wine process of this prefix; HarnessError when one
        of them is still there after `timeout` seconds."""
        # Exit code 1 from -k says only that no server was running: what counts is whether any
        # process of the prefix is left, checked below.
        self._tool([WINESERVER, "-k"], check=False)
        if self._server is not None:
            try:
                self._server.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self._server.kill()
                self._server.wait()
            self._server = None
        self._tool([WINESERVER, "-w"])
        deadline = time.monotonic() + timeout
        while self.processes():
            if time.monotonic() > deadline:
                raise HarnessError("processes of %s still run after its server stopped: %s" % (
                    self.path, ", ".join(_process_name(pid) for pid in self.processes())))
            time.sleep(0.05)

    def restart_server(self):
        """Restarts the wineserver, so it reads the port mapping afresh."""
        self.stop_server()
        self.start_server()

    # -- registry -----------------------------------------------------------------------------

    def reg(self, args, missing_ok=False):
        """Runs ``reg`` with `args`; its CompletedProcess. A command that fails is tried twice
        more before HarnessError says which command it was and what it printed. With
        `missing_ok`, a key that does not exist is an answer (None), not a failure."""
        # Right after a server start, reg has been seen to fail once in a while on a busy
        # machine; the same command a moment later succeeds.
        for attempt in range(3):
            result = self._tool([WINE, "reg"] + args, check=False)
            if result.returncode == 0:
                return result
            if missing_ok and _printed(result) == REG_NO_KEY:
                return None
            time.sleep(0.5)
        raise HarnessError("%s failed (%d) three times: %s" % (
            _command_text(["reg"] + args), result.returncode, _printed(result)))

    def reg_add(self, key, name, data, kind="REG_SZ"):
        self.reg(["add", key, "/v", name, "/t", kind, "/d", data, "/f"])

    def reg_delete(self, key, name=None):
        """Deletes the value `name` of `key`, or without a name the whole key."""
        self.reg(["delete", key] + (["/v", name] if name is not None else []) + ["/f"])

    def reg_import(self, path):
        """Imports the .reg file at `path` (the test user must be able to read it)."""
        self.reg(["import", "Z:" + str(path).replace("/", "\\")])

    def reg_values(self, key, missing_ok=False):
        """``[(name, type, data)]`` of `key`, in the registry's own order; what reg printed,
        never a guess: a failed query raises HarnessError (see :meth:`reg`). With `missing_ok`,
        None when the key does not exist."""
        result = self.reg(["query", key], missing_ok=missing_ok)
        if result is None:
            return None
        values = []
        for line in result.stdout.decode(errors="replace").splitlines():
            if not line.startswith("    "):
                continue
            parts = line.strip().split("    ")
            if len(parts) >= 2:
                values.append((parts[0], parts[1], parts[2] if len(parts) > 2 else ""))
        return values

    # -- serial ports -------------------------------------------------------------------------

    def map_port(self, number, tty_path, restart=True):
        """Maps COM<number> to `tty_path` and restarts the server (the mapping is read only when
        the server starts). Pass ``restart=False`` to map several ports with one restart, then
        call :meth:`restart_server`."""
        assert_safe_tty_path(tty_path)
        self.reg_add(PORTS_KEY, "COM%d" % number, str(tty_path))
        if restart:
            self.restart_server()

    def port_link(self, number):
        """The link dosdevices/com<number>: what an open of COM<number> follows."""
        return self.path / "dosdevices" / ("com%d" % number)

    def link_port(self, number, tty_path):
        """COM<number> now leads to `tty_path` (a tty, or any path but the machine's own ports)
        for every later open, without a server restart, which would end every program of the
        prefix. The server makes the link from the mapping when it starts, and every open
        follows it afresh; it is replaced in one step, so an open meanwhile finds the old target
        or the new one. The port is not listed by this: see :meth:`register_port`."""
        assert_safe_tty_path(tty_path)
        link = self.port_link(number)
        new = link.with_name(link.name + ".new")
        new.unlink(missing_ok=True)
        os.symlink(str(tty_path), str(new))
        if os.geteuid() == 0:
            uid, gid, _ = user_ids(self.user)
            os.lchown(new, uid, gid)
        os.replace(new, link)

    def unlink_port(self, number):
        """COM<number> leads nowhere any more: its link is gone."""
        self.port_link(number).unlink(missing_ok=True)

    def register_port(self, number, device=None):
        """Lists COM<number> under SERIALCOMM, seen by the next program start and by a program
        watching the key. `device` is the value's name, which names the driver; by default
        Wine's own (\\Device\\Serial<number-1>)."""
        self.reg_add(SERIALCOMM_KEY, device or r"\Device\Serial%d" % (number - 1), "COM%d" % number)

    def unregister_port(self, number, device=None):
        self.reg_delete(SERIALCOMM_KEY, device or r"\Device\Serial%d" % (number - 1))

    def mapped_ports(self):
        """``{"COM5": "/dev/pts/3", ...}`` from this prefix's mapping."""
        return {name: data for name, _, data in self.reg_values(PORTS_KEY)}

    def serialcomm(self, missing_ok=False):
        """``[(name, data)]`` under SERIALCOMM, in registry order; with `missing_ok`, None when
        the key does not exist."""
        values = self.reg_values(SERIALCOMM_KEY, missing_ok)
        return None if values is None else [(name, data) for name, _, data in values]

    # -- programs -----------------------------------------------------------------------------

    def spawn(self, argv, lang=LANG_WESTERN, display=None, extra_env=None, **popen_args):
        """Starts ``wine64 argv...`` (``wine`` for a 32-bit program) as a child of this process;
        returns the :class:`WineProcess`.

        `argv[0]` is a Windows program installed with :meth:`WineSession.install`. Standard
        output and error default to pipes.
        """
        for mapped in self.mapped_ports().values():
            assert_safe_tty_path(mapped)
        popen_args.setdefault("stdout", subprocess.PIPE)
        popen_args.setdefault("stderr", subprocess.PIPE)
        popen_args.setdefault("stdin", subprocess.DEVNULL)
        popen_args.setdefault("cwd", str(pathlib.Path(argv[0]).parent))
        self.start_server()
        loader = WINE32 if pe_is_32bit(argv[0]) else WINE
        if loader == WINE32 and not self.wow64:
            raise HarnessError("%s is a 32-bit program: it runs only in a WoW64 prefix" % argv[0])

        def again():
            return self.spawn(argv, lang, display, extra_env, **popen_args)

        return WineProcess(
            as_user([loader] + [str(a) for a in argv], self.user),
            again,
            env=self.env(lang, display, extra_env),
            **popen_args,
        )

    def start_again(self, proc, out=b"", err=b""):
        """A new start of `proc` (a :class:`WineProcess` that has ended) when Wine failed to
        make it, else None. `out` and `err` are what the caller read from its pipes.

        Only sound where nothing of the program has been seen yet: at the end of a run, or
        where a long-running program is first looked at (a driver's first answer, a window's
        first appearance). HarnessError when `proc` was already a start made again."""
        if proc.poll() is None or not start_failed(proc.finished(out, err)):
            return None
        _start_repeated(proc.argv, proc.attempt)
        started = proc.again()
        started.attempt = proc.attempt + 1
        return started

    def finish(self, proc, timeout=60):
        """Waits for `proc` (from :meth:`spawn`, output to pipes) to end, starting it again when
        Wine failed to make it; returns a CompletedProcess with text output (UTF-8) and the
        seconds from the program's start to its end in ``.elapsed``."""
        while True:
            try:
                out, err = proc.communicate(timeout=timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.communicate()
                raise HarnessError("%s did not end within %d s" % (proc.argv[0], timeout))
            ended = time.monotonic()
            again = self.start_again(proc, out or b"", err or b"")
            if again is None:
                break
            proc = again
        result = subprocess.CompletedProcess(
            proc.argv, proc.returncode, (out or b"").decode("utf-8", "replace"),
            (err or b"").decode("utf-8", "replace"))
        result.elapsed = ended - proc.started
        return result

    def run(self, argv, lang=LANG_WESTERN, display=None, timeout=60, extra_env=None):
        """Runs a Windows program to its end; see :meth:`finish`."""
        return self.finish(self.spawn(argv, lang=lang, display=display, extra_env=extra_env),
                           timeout)

    def processes(self):
        """Pids of every process running with this prefix as its WINEPREFIX: programs, the
        server and Wine's services."""
        wanted = ("WINEPREFIX=%s" % self.path).encode()
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if wanted in f.read().split(b"\0"):
                        pids.append(int(entry))
            except OSError:
                pass  # ended meanwhile, or another user's
        return pids

    def close(self):
        """Stops the server and deletes the prefix."""
        try:
            self.stop_server()
        finally:
            shutil.rmtree(self.path, ignore_errors=True)


class WineSession:
    """One test run's Wine state: a template prefix, its copies and the installed programs.

    Everything lives below one temporary folder owned by the test user, removed by
    :meth:`close`.
    """

    def __init__(self, user=USER):
        self.user = user
        user_ids(user)
        check_serial_devices_closed(user)
        self.root = user_dir("brand-wine-", user)
        self._templates = {}
        self._prefixes = []
        self._count = 0
        # All of this file: what makes a prefix is spread over it (the boot, its environment,
        # how Wine tools are run), and any change there must make new prefixes.
        self._cache = PrefixCache(pathlib.Path(__file__).read_text(),
                                  lambda command: as_user(command, user))

    def _made(self, path, wow64):
        """A prefix at `path` as :meth:`_boot` makes it, copied from the cache when the cache
        has one, else made and then kept there; its server stopped."""
        uid, _, _ = user_ids(self.user)
        prefix = WinePrefix(path, self.user, wow64)
        boots_with = sorted(item for item in prefix.env().items() if item[0] != "WINEPREFIX")
        # Wine's 32-bit side runs on the registered emulator in every prefix, also when it only
        # fails there (see RESERVED_VA_NO_WOW64).
        name = self._cache.name("wow64" if wow64 else "x86_64",
                                ["uid=%d" % uid, emulator.registered_identity()] +
                                ["%s=%s" % item for item in boots_with])
        if self._cache.fetch(name, path):
            return prefix
        prefix = self._boot(path, wow64)
        self._cache.publish(name, path, prefix.processes)
        return prefix

    def _boot(self, path, wow64=False):
        """A new prefix at `path` with the test settings, its server stopped."""
        prefix = WinePrefix(path, self.user, wow64)
        prefix._tool([WINE, "wineboot", "-u"], timeout=600)
        fonts = prefix.path / "drive_c" / "windows" / "Fonts"
        if os.path.exists(CAPTION_FONT) and fonts.is_dir():
            shutil.copy(CAPTION_FONT, str(fonts))
            chown_to_user(fonts / os.path.basename(CAPTION_FONT), self.user)
        prefix.start_server()
        for key, name, data in PREFIX_SETTINGS:
            prefix.reg_add(key, name, data)
        # Copies must see a finished, flushed registry: the server writes it out on exit.
        prefix.stop_server()
        return prefix

    def template(self, wow64=False):
        """The template prefix (`wow64`: the one that runs 32-bit programs too), made on first
        use."""
        if wow64 not in self._templates:
            self._templates[wow64] = self._made(
                self.root / ("template-wow64" if wow64 else "template"), wow64)
        return self._templates[wow64]

    def new_prefix(self, name=None, display=None, wow64=False):
        """A fresh copy of the template, with its server running. Give the `display` its
        windows will use here (see WinePrefix.display): the server's first programs start Wine's
        desktop process, which keeps the display it was started with. With `wow64`, a copy of
        the prefix that runs 32-bit programs too (1.3 GB, about 5 s to copy); HarnessError when
        the machine cannot run them, saying what is missing."""
        if wow64:
            missing = wow64_missing()
            if missing:
                raise HarnessError("cannot run 32-bit programs here: " + missing)
        template = self.template(wow64)
        self._count += 1
        path = self.root / (name or "prefix-%d" % self._count)
        subprocess.run(["cp", "-a", str(template.path), str(path)], check=True)
        prefix = WinePrefix(path, self.user, wow64)
        prefix.display = display
        prefix.start_server()
        self._prefixes.append(prefix)
        return prefix

    def new_wow64_prefix(self, name=None, display=None):
        """:meth:`new_prefix` of the prefix that runs 32-bit programs too."""
        return self.new_prefix(name, display, wow64=True)

    def install(self, *files):
        """Copies programs into a folder the test user owns (a clone of the repository may be
        unreadable to that user) and returns their new paths (one path for one file)."""
        target = self.root / "bin"
        if not target.exists():
            target.mkdir()
            chown_to_user(target, self.user)
        paths = []
        for f in files:
            dest = target / pathlib.Path(f).name
            shutil.copy2(str(f), str(dest))
            chown_to_user(dest, self.user)
            paths.append(dest)
        return paths[0] if len(paths) == 1 else paths

    def close(self):
        for prefix in self._prefixes:
            prefix.close()
        self._prefixes = []
        for template in self._templates.values():
            template.stop_server()
        shutil.rmtree(self.root, ignore_errors=True)


_shared = None


def shared_session():
    """The test run's one :class:`WineSession`, made on first use and closed when the process
    exits, so every test module shares one template prefix. Modules take their own prefixes
    from it with :meth:`WineSession.new_prefix`."""
    global _shared
    if _shared is None:
        _shared = WineSession()
        atexit.register(_shared.close)
    return _shared


def repo_root():
    return pathlib.Path(__file__).resolve().parents[1]


def build_dir(kind="win64"):
    """The build folder tools/test.sh makes (``build/<kind>``); BRAND_BUILD_<KIND> overrides
    it, e.g. ``BRAND_BUILD_WIN64=/path``."""
    override = os.environ.get("BRAND_BUILD_" + kind.upper())
    return pathlib.Path(override) if override else repo_root() / "build" / kind
