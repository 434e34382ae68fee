#!/usr/bin/env bash
# Builds the shipped 32-bit program and packs its release:
#
#   dist/Brand-<label>-win32.zip
#     Brand-<label>/brand.exe     build/win32/brand.exe, the file the tests check
#     Brand-<label>/brandcli.exe  build/win32/brandcli.exe, the same for scripts
#     Brand-<label>/README.txt    docs/release-readme.txt, for the user
#     Brand-<label>/LICENSE
#     Brand-<label>/SHA256SUMS    of the four files above
#
# The label is the project version in CMakeLists.txt, with "-dirty" when the tree has uncommitted
# changes (1.0.0.1-dirty): the release is then made from the working tree, and says so, rather
# than refused, since the test command packs it on a developer's tree. The build decides the
# label and the time, as it stamps the programs (cmake/build_stamp.cmake), and everything here
# takes both from it. The texts get Windows line ends (and the README a UTF-8 mark, so Notepad
# shows its Chinese). The zip's dates are the stamped time (the commit time), so two releases of
# one commit are the same bytes (tools/check-release.sh shows it). Beside it go the static Linux
# brandcli tarballs, dist/Brand-<label>-linux-<arch>.tar.gz (tools/linux_release.py). Run from any
# folder:
#
#   bash tools/release.sh
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

if ! command -v i686-w64-mingw32-g++ >/dev/null || ! command -v cmake >/dev/null; then
    bash tools/setup.sh
fi

echo "== build win32"
cmake -S "$ROOT" -B build/win32 --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build/win32 -j2 --target shipped >/dev/null
LINUX_ARCHES=(x86_64 arm64 armhf)
for arch in "${LINUX_ARCHES[@]}"; do
    echo "== build linux-$arch"
    cmake -S "$ROOT" -B "build/linux-$arch" --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="cmake/linux-$arch.cmake" >/dev/null
    cmake --build "build/linux-$arch" -j2 --target brandcli >/dev/null
done

# The build has just stamped itself, or failed saying why it could not: every file made here is
# named by its label and dated by its time.
label=$(sed -n 's/^#define BRAND_VERSION_LABEL "\(.*\)"$/\1/p' build/win32/generated/version_label.h)
stamp=$(cat build/win32/generated/source_date_epoch)
case $label in
    "") echo "release: the build left no version label" >&2; exit 1 ;;
    *-dirty) echo "release: uncommitted changes in $ROOT: packing the working tree as $label" ;;
esac
/usr/bin/python3 - "$label" "$stamp" <<'PY'
import hashlib
import os
import stat
import sys
import time
import zipfile

label, stamp = sys.argv[1], int(sys.argv[2])
folder = "Brand-%s" % label
readme = open("docs/release-readme.txt", encoding="utf-8").read().replace("@VERSION@", label)
files = {
    "brand.exe": open("build/win32/brand.exe", "rb").read(),
    "brandcli.exe": open("build/win32/brandcli.exe", "rb").read(),
    "README.txt": b"\xef\xbb\xbf" + readme.replace("\n", "\r\n").encode("utf-8"),
    "LICENSE": open("LICENSE", encoding="utf-8").read().replace("\n", "\r\n").encode("utf-8"),
}
files["SHA256SUMS"] = "".join(
    "%s *%s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in files.items()
).encode("ascii")

os.makedirs("dist", exist_ok=True)
path = "dist/Brand-%s-win32.zip" % label
when = time.gmtime(max(stamp, 315532800))[:6]  # zip dates start in 1980
with zipfile.ZipFile(path + ".part", "w", zipfile.ZIP_DEFLATED) as archive:
    for name, data in files.items():
        entry = zipfile.ZipInfo("%s/%s" % (folder, name), when)
        # A Unix file's mode, said to be Unix's: left to zipfile, the creating system would be
        # whichever packs the zip.
        entry.create_system = 3
        entry.external_attr = (stat.S_IFREG | 0o644) << 16
        archive.writestr(entry, data, zipfile.ZIP_DEFLATED)
os.replace(path + ".part", path)
print("release: %s (%d bytes)" % (path, os.path.getsize(path)))
for line in files["SHA256SUMS"].decode().splitlines():
    print("release:   " + line)
PY
# Beside it, the static Linux brandcli for x86_64, arm64 and armhf, one tarball each, labelled and
# dated the same way (tools/linux_release.py says what is in them).
/usr/bin/python3 tools/linux_release.py "$label" "$stamp" "${LINUX_ARCHES[@]}"
