#!/usr/bin/env bash
# Shows that the release can be rebuilt byte for byte: clones HEAD twice, into two folders of
# different names and lengths, packs the release in each from nothing (tools/release.sh, with
# build folders of its own: nothing of this tree's build/ is used) and compares every file of
# the two dist/ folders byte for byte. Only what is committed is checked, dated by its commit
# time (SOURCE_DATE_EPOCH from the environment is left out). Run as root from any folder:
#
#   bash tools/check-release.sh
#
# The last line says whether the two releases are the same; the files that differ, or that only
# one of them made, are named before it. Exits non-zero when they are not the same.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORK=$(mktemp -d /tmp/brand-check-release.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
START=$(date +%s)

commit=$(git -C "$ROOT" rev-parse HEAD)
if [ -n "$(git -C "$ROOT" --no-optional-locks status --porcelain --untracked-files=normal)" ]; then
    echo "check-release: uncommitted changes in $ROOT are not part of this check"
fi

CLONES=("$WORK/a" "$WORK/second-clone")
for clone in "${CLONES[@]}"; do
    git clone --quiet --no-checkout "$ROOT" "$clone"
    git -C "$clone" checkout --quiet --detach "$commit"
    if ! env -u SOURCE_DATE_EPOCH bash "$clone/tools/release.sh" >"$clone.log" 2>&1; then
        cat "$clone.log"
        echo "check-release: tools/release.sh FAILED in a clone of $commit"
        exit 1
    fi
    grep '^build stamp:' "$clone.log" | sort -u || true
done

first=${CLONES[0]}/dist
second=${CLONES[1]}/dist
failed=0
names=$( (cd "$first" && find . -type f; cd "$second" && find . -type f) | sort -u)
if [ -z "$names" ]; then
    echo "check-release: the release made no files"
    failed=1
fi
for name in $names; do
    name=${name#./}
    if [ ! -f "$first/$name" ] || [ ! -f "$second/$name" ]; then
        echo "check-release: dist/$name is made by only one of the two"
        failed=1
    elif cmp -s "$first/$name" "$second/$name"; then
        echo "check-release: dist/$name the same ($(sha256sum <"$first/$name" | cut -c1-16)...)"
    else
        echo "check-release: dist/$name DIFFERS"
        failed=1
        case $name in
            *.zip) /usr/bin/python3 - "$first/$name" "$second/$name" <<'PY' ;;
import sys
import zipfile

first, second = ({i.filename: i for i in zipfile.ZipFile(path).infolist()} for path in sys.argv[1:])
for name in sorted(set(first) | set(second)):
    if name not in first or name not in second:
        print("check-release:   %s is in only one of them" % name)
        continue
    fields = [field for field in ("CRC", "file_size", "date_time", "create_system",
                                  "external_attr", "compress_size", "extra", "comment")
              if getattr(first[name], field) != getattr(second[name], field)]
    if fields:
        print("check-release:   %s differs: %s" % (name, ", ".join(fields)))
PY
        esac
    fi
done

seconds=$(($(date +%s) - START))
if [ "$failed" -ne 0 ]; then
    echo "check-release: FAILED: two releases of $commit differ ($seconds s)"
    exit 1
fi
echo "check-release: two releases of $commit are the same bytes ($seconds s)"
