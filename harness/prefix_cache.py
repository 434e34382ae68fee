"""Made Wine prefixes, kept between runs.

Making the x86_64 template prefix takes about 45 s on a machine with 32-bit Wine, and the WoW64
prefix several minutes under emulation; neither changes from one run to the next as long as
nothing that goes into it changes. So a finished prefix is kept here and copied (a few seconds)
instead of made again.

The cache folder is root's alone (mode 0700): the programs under test run as the test user and
must not be able to change what later runs start from. Its entries belong to the test user, as
Wine demands of a prefix, and are only ever copied, never run in place. Whatever the test user
could have planted in a prefix (a link to anywhere, a link where the copy is about to go) is never
followed by root: every copy is a tar stream between a root process that reads or writes only
inside the cache and one running as the test user that reads or writes only the prefix. tar
keeps links as links, and what the user's side meets it meets with the user's rights.

An entry's name carries a key over everything that makes it: the Wine, qemu and font packages,
the registered emulator's file (its sha256: qemu 7.2's prefixes are never reused), the test user and the environment a prefix boots with, and all of the harness code that makes a
prefix and copies it. Anything else that changes means a new key and a new entry; the old entry
of that kind goes when the new one is published.

Runs share the cache through a lock on its folder: shared while an entry is copied out, exclusive
while one is copied in and renamed into place and old ones are deleted, so that no run deletes an
entry another is copying from. An entry is copied in only from a prefix in which no Wine process
runs any more, under a temporary name, with a marker file written last (never through a link)
and everything flushed to disk before the rename; a later run trusts only a marked entry. Under
the lock, no temporary folder belongs to a live run: each copy first sweeps those of runs that
died.

Whatever goes wrong with the cache (its folder cannot be made, a copy fails on a full disk) is said
in one line and turns the cache off for the rest of the run, which goes on making its prefixes
afresh. ``BRAND_NO_PREFIX_CACHE=1`` makes a run neither use nor fill the cache;
``BRAND_PREFIX_CACHE=DIR`` puts it elsewhere. Clear it with ``rm -rf /var/cache/brand-tests``.
"""

import contextlib
import fcntl
import hashlib
import os
import pathlib
import shutil
import stat
import subprocess
import tempfile
import warnings

DEFAULT_ROOT = "/var/cache/brand-tests"
MARKER = ".brand-prefix-complete"
TEMPORARY = ".tmp"  # the suffix of an entry being copied in
PACKAGES = ("wine64", "libwine", "wine32:i386", "libwine:i386", "qemu-user",
            "fonts-wqy-zenhei", "fonts-wine")


class PrefixCacheWarning(UserWarning):
    """The cache is off for the rest of the run, or kept nothing, and why."""


def _package_versions():
    versions = []
    for package in PACKAGES:
        result = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                                capture_output=True, text=True)
        versions.append("%s=%s" % (package, result.stdout.strip() if result.returncode == 0 else "-"))
    return versions


def _is(path, kind):
    """True when `path` itself (not what a link there points to) is of `kind` (stat.S_ISDIR...)."""
    try:
        return kind(os.lstat(path).st_mode)
    except OSError:
        return False


def _fsync_folder(path):
    """Makes a rename in `path` last."""
    folder = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(folder)
    finally:
        os.close(folder)


def _pipe(reader, writer):
    """Runs ``reader | writer``; None when both succeed, else the first line either printed."""
    with tempfile.TemporaryFile() as errors:
        source = subprocess.Popen(reader, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=errors, cwd="/")
        sink = subprocess.Popen(writer, stdin=source.stdout, stdout=subprocess.DEVNULL,
                                stderr=errors, cwd="/")
        source.stdout.close()  # the reader sees a sink that died
        codes = (source.wait(), sink.wait())
        if codes == (0, 0):
            return None
        errors.seek(0)
        lines = errors.read().decode(errors="replace").splitlines()
        return lines[0] if lines else "exit codes %d and %d" % codes


class PrefixCache:
    """The cache, or a stand-in that keeps nothing when it is switched off or cannot be trusted
    (not root, a folder someone else owns or that cannot be made): then every prefix is made
    afresh.

    `maker_source` is the code that makes a prefix; `as_user(command)` is `command` made to run
    as the test user.
    """

    def __init__(self, maker_source, as_user, root=None):
        self.root = pathlib.Path(root or os.environ.get("BRAND_PREFIX_CACHE", DEFAULT_ROOT))
        self.enabled = os.geteuid() == 0 and not os.environ.get("BRAND_NO_PREFIX_CACHE")
        self._maker_source = maker_source + pathlib.Path(__file__).read_text()
        self._as_user = as_user
        self._versions = None
        if not self.enabled:
            return
        try:
            self.root.mkdir(mode=0o700, parents=True, exist_ok=True)
            info = os.lstat(self.root)
        except OSError as error:
            self._off("cannot make %s (%s)" % (self.root, error.strerror))
            return
        if not stat.S_ISDIR(info.st_mode) or info.st_uid != 0 or info.st_mode & 0o077:
            self._off("%s is not a folder of root's alone" % self.root)

    def _off(self, why):
        self.enabled = False
        warnings.warn(PrefixCacheWarning(
            "prefix cache off: %s; the run goes on making its prefixes" % why), stacklevel=3)

    def name(self, kind, settings):
        """The entry name of a prefix of `kind` made with `settings` (lines of text)."""
        if self._versions is None:
            self._versions = _package_versions()
        key = hashlib.sha256("\n".join(
            self._versions + list(settings) + [self._maker_source]).encode()).hexdigest()[:16]
        return "%s-%s" % (kind, key)

    @contextlib.contextmanager
    def _locked(self, how):
        folder = os.open(self.root, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW)
        try:
            fcntl.flock(folder, how)
            self._sweep()
            yield
        finally:
            os.close(folder)

    def _sweep(self):
        """Removes the temporary copies of runs that died making them."""
        for entry in self.root.glob(".*" + TEMPORARY):
            shutil.rmtree(entry, ignore_errors=True)

    def fetch(self, name, target):
        """Copies entry `name` to `target`, a path that must not exist yet; False when there is
        no finished entry or the copy failed (then nothing is left at `target`)."""
        if not self.enabled:
            return False
        entry = self.root / name
        with self._locked(fcntl.LOCK_SH):
            if not _is(entry / MARKER, stat.S_ISREG):
                return False
            failed = _pipe(
                ["tar", "-c", "-C", str(entry), "--exclude=" + MARKER, "."],
                self._as_user(["sh", "-c", 'mkdir -- "$1" && exec tar -x -p -C "$1"', "sh",
                               str(target)]))
        if failed:
            subprocess.run(self._as_user(["rm", "-rf", "--", str(target)]), cwd="/")
            self._off("copying %s out failed (%s)" % (name, failed))
        return not failed

    def publish(self, name, source, running=lambda: ()):
        """Keeps a copy of the finished prefix at `source` as entry `name`. `running()` lists the
        processes still running in it; while there are any, nothing is kept."""
        if not self.enabled:
            return
        still = running()
        if still:
            warnings.warn(PrefixCacheWarning("prefix cache: %s not kept, Wine still runs in it "
                                             "(pids %s)" % (name, still)), stacklevel=2)
            return
        final = self.root / name
        with self._locked(fcntl.LOCK_EX):
            if _is(final / MARKER, stat.S_ISREG):
                return  # another run published it meanwhile
            temporary = self.root / (".%s.%d%s" % (name, os.getpid(), TEMPORARY))
            try:
                os.mkdir(temporary, 0o700)
                failed = _pipe(self._as_user(["tar", "-c", "-C", str(source),
                                              "--exclude=" + MARKER, "."]),
                               ["tar", "-x", "-p", "--same-owner", "-C", str(temporary)])
                if failed:
                    raise OSError(failed)
                os.close(os.open(temporary / MARKER,
                                 os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o644))
                subprocess.run(["sync", "--file-system", str(temporary)], check=True)
                shutil.rmtree(final, ignore_errors=True)  # an unmarked leftover
                os.rename(temporary, final)
                _fsync_folder(self.root)
            except (OSError, subprocess.CalledProcessError) as error:
                shutil.rmtree(temporary, ignore_errors=True)
                self._off("keeping %s failed (%s)" % (name, error))
                return
            kind = name.rsplit("-", 1)[0]
            for old in self.root.iterdir():
                if old.name != name and old.name.rsplit("-", 1)[0] == kind:
                    shutil.rmtree(old, ignore_errors=True)
