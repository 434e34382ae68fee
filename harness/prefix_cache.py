"""Made Wine prefixes, kept between runs.

Making the x86_64 template prefix takes about 45 s on a machine with 32-bit Wine, and the WoW64
prefix several minutes under emulation; neither changes from one run to the next as long as
nothing that goes into it changes. So a finished prefix is kept here and copied (``cp -a``, a
few seconds) instead of made again.

The cache folder is root's alone (mode 0700): the programs under test run as the test user and
must not be able to change what later runs start from. Its entries belong to the test user, as
Wine demands of a prefix, and are only ever copied, never run in place.

An entry's name carries a key over everything that makes it: the Wine, qemu and font packages,
the test user's uid, the qemu address-space reservation, and the harness's own code that makes a
prefix. Anything else that changes means a new key and a new entry; the old entry of that kind
goes when the new one is published.

An entry is copied in under a temporary name beside its final one and renamed only after a
marker file has been written last, so a run that is interrupted leaves nothing a later run
trusts; when two runs publish the same entry at once, the rename of the later fails and it
discards its copy.

``BRAND_NO_PREFIX_CACHE=1`` makes a run neither use nor fill the cache;
``BRAND_PREFIX_CACHE=DIR`` puts it elsewhere. Clear it with ``rm -rf /var/cache/brand-tests``.
"""

import errno
import hashlib
import os
import pathlib
import shutil
import subprocess

DEFAULT_ROOT = "/var/cache/brand-tests"
MARKER = ".brand-prefix-complete"
PACKAGES = ("wine64", "libwine", "wine32:i386", "libwine:i386", "qemu-user-static",
            "fonts-wqy-zenhei", "fonts-wine")


def _package_versions():
    versions = []
    for package in PACKAGES:
        result = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                                capture_output=True, text=True)
        versions.append("%s=%s" % (package, result.stdout.strip() if result.returncode == 0 else "-"))
    return versions


class PrefixCache:
    """The cache, or a stand-in that keeps nothing when it is switched off or cannot be trusted
    (not root, a folder someone else owns): then every prefix is made afresh."""

    def __init__(self, maker_source, root=None):
        self.root = pathlib.Path(root or os.environ.get("BRAND_PREFIX_CACHE", DEFAULT_ROOT))
        self.enabled = os.geteuid() == 0 and not os.environ.get("BRAND_NO_PREFIX_CACHE")
        self._maker_source = maker_source
        self._versions = None
        if self.enabled:
            self.root.mkdir(mode=0o700, parents=True, exist_ok=True)
            info = self.root.stat()
            self.enabled = info.st_uid == 0 and info.st_mode & 0o077 == 0

    def name(self, kind, uid, reserved_va):
        """The entry name of a prefix of `kind` made with these settings."""
        if self._versions is None:
            self._versions = _package_versions()
        key = hashlib.sha256("\n".join(
            self._versions + ["uid=%d" % uid, "reserved_va=%s" % reserved_va,
                              self._maker_source]).encode()).hexdigest()[:16]
        return "%s-%s" % (kind, key)

    def fetch(self, name, target):
        """Copies entry `name` to `target`; False when there is no finished entry."""
        entry = self.root / name
        if not self.enabled or not (entry / MARKER).is_file():
            return False
        subprocess.run(["cp", "-a", str(entry), str(target)], check=True)
        (pathlib.Path(target) / MARKER).unlink()
        return True

    def publish(self, name, source):
        """Keeps a copy of the finished prefix at `source` as entry `name`."""
        if not self.enabled:
            return
        kind = name.rsplit("-", 1)[0]
        temporary = self.root / (".%s.%d.tmp" % (name, os.getpid()))
        shutil.rmtree(temporary, ignore_errors=True)
        subprocess.run(["cp", "-a", str(source), str(temporary)], check=True)
        (temporary / MARKER).touch()
        try:
            os.rename(temporary, self.root / name)
        except OSError as error:
            shutil.rmtree(temporary, ignore_errors=True)
            if error.errno not in (errno.EEXIST, errno.ENOTEMPTY):
                raise
            return  # another run published it first
        for old in self.root.iterdir():
            if old.name != name and old.name.rsplit("-", 1)[0] == kind:
                shutil.rmtree(old, ignore_errors=True)
        self._sweep()

    def _sweep(self):
        """Removes the temporary copies of runs that ended before publishing them."""
        for entry in self.root.glob(".*.tmp"):
            pid = entry.name.rsplit(".", 2)[-2]
            if pid.isdigit() and not os.path.exists("/proc/%s" % pid):
                shutil.rmtree(entry, ignore_errors=True)
