#!/usr/bin/env bash
# Builds the shipped 32-bit program and packs its release:
#
#   dist/Brand-<version>-win32.zip
#     Brand-<version>/brand.exe     build/win32/brand.exe, the file the tests check
#     Brand-<version>/brandcli.exe  build/win32/brandcli.exe, the same for scripts
#     Brand-<version>/README.txt    docs/release-readme.txt, for the user
#     Brand-<version>/LICENSE
#     Brand-<version>/SHA256SUMS    of the four files above
#
# The version is the project version in CMakeLists.txt. The texts get Windows line ends (and the
# README a UTF-8 mark, so Notepad shows its Chinese). The zip's dates are the time the build
# stamped the programs with (the commit time; see cmake/source_date_epoch.cmake), so two releases
# of one commit are the same bytes. Beside it, the static Linux brandcli for x86_64, arm64 and
# armhf, one tarball each (tools/linux_release.py says what is in them). Run from any folder:
#
#   bash tools/release.sh
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

version=$(sed -n 's/^project(Brand VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
    echo "release: CMakeLists.txt names no project version" >&2
    exit 1
fi
if ! command -v i686-w64-mingw32-g++ >/dev/null || ! command -v cmake >/dev/null; then
    bash tools/setup.sh
fi

echo "== build win32"
cmake -S "$ROOT" -B build/win32 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build/win32 -j2 --target brand brandcli >/dev/null
LINUX_ARCHES=(x86_64 arm64 armhf)
for arch in "${LINUX_ARCHES[@]}"; do
    echo "== build linux-$arch"
    cmake -S "$ROOT" -B "build/linux-$arch" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="cmake/linux-$arch.cmake" >/dev/null
    cmake --build "build/linux-$arch" -j2 --target brandcli >/dev/null
done

# The build has just dated itself, or failed saying why it could not.
stamp=$(cat build/win32/generated/source_date_epoch)
/usr/bin/python3 - "$version" "$stamp" <<'PY'
import hashlib
import os
import sys
import time
import zipfile

version, stamp = sys.argv[1], int(sys.argv[2])
folder = "Brand-%s" % version
readme = open("docs/release-readme.txt", encoding="utf-8").read().replace("@VERSION@", version)
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
path = "dist/Brand-%s-win32.zip" % version
when = time.gmtime(max(stamp, 315532800))[:6]  # zip dates start in 1980
with zipfile.ZipFile(path + ".part", "w", zipfile.ZIP_DEFLATED) as archive:
    for name, data in files.items():
        entry = zipfile.ZipInfo("%s/%s" % (folder, name), when)
        entry.external_attr = 0o644 << 16
        archive.writestr(entry, data, zipfile.ZIP_DEFLATED)
os.replace(path + ".part", path)
print("release: %s (%d bytes)" % (path, os.path.getsize(path)))
for line in files["SHA256SUMS"].decode().splitlines():
    print("release:   " + line)
PY
/usr/bin/python3 tools/linux_release.py "$version" "$stamp" "${LINUX_ARCHES[@]}"
