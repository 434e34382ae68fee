#!/usr/bin/python3
"""Packs the Linux brandcli releases, one tarball per architecture:

    dist/Brand-<version>-linux-<arch>.tar.gz
      Brand-<version>-linux-<arch>/brandcli     build/linux-<arch>/brandcli
      Brand-<version>-linux-<arch>/README.txt   docs/release-readme-linux.txt
      Brand-<version>-linux-<arch>/LICENSE
      Brand-<version>-linux-<arch>/SHA256SUMS   of the three files above

Byte for byte the same for one commit from any clone: entries sorted, owner 0/0 without names,
every time the build's stamp (the commit time), gzip without a name or a time.

    linux_release.py VERSION STAMP ARCH...
"""

import gzip
import hashlib
import io
import os
import sys
import tarfile


def pack(version, stamp, arch):
    folder = "Brand-%s-linux-%s" % (version, arch)
    readme = open("docs/release-readme-linux.txt", encoding="utf-8").read()
    readme = readme.replace("@VERSION@", version).replace("@ARCH@", arch)
    files = {
        "brandcli": (open("build/linux-%s/brandcli" % arch, "rb").read(), 0o755),
        "README.txt": (readme.encode("utf-8"), 0o644),
        "LICENSE": (open("LICENSE", "rb").read(), 0o644),
    }
    sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name)
                   for name, (data, _) in sorted(files.items()))
    files["SHA256SUMS"] = (sums.encode("ascii"), 0o644)

    tar_bytes = io.BytesIO()
    with tarfile.open(fileobj=tar_bytes, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        entries = [(folder, None, 0o755)] + [
            ("%s/%s" % (folder, name), data, mode) for name, (data, mode) in sorted(files.items())]
        for name, data, mode in entries:
            info = tarfile.TarInfo(name)
            info.type = tarfile.DIRTYPE if data is None else tarfile.REGTYPE
            info.size = 0 if data is None else len(data)
            info.mode, info.mtime = mode, stamp
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            tar.addfile(info, None if data is None else io.BytesIO(data))

    path = "dist/%s.tar.gz" % folder
    with open(path + ".part", "wb") as out:
        with gzip.GzipFile(filename="", mode="wb", fileobj=out, mtime=0, compresslevel=9) as gz:
            gz.write(tar_bytes.getvalue())
    os.replace(path + ".part", path)
    print("release: %s (%d bytes; brandcli %d bytes)" % (path, os.path.getsize(path),
                                                          len(files["brandcli"][0])))


def main():
    version, stamp, arches = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    os.makedirs("dist", exist_ok=True)
    for arch in arches:
        pack(version, stamp, arch)


if __name__ == "__main__":
    main()
