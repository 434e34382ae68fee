#!/usr/bin/env bash
# Prepares a Debian 12 machine (as root) to build and test Brand: compilers, Wine, the display
# and serial stand-ins, the Chinese locale, and the unprivileged user every Wine run uses.
# Safe to run again: it only installs or changes what is missing, and prints one line per step.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: must run as root" >&2
    exit 1
fi

# libclang-rt-14-dev carries libFuzzer's runtime (libclang_rt.fuzzer-x86_64.a), which is what
# `clang++ -fsanitize=fuzzer` links; the separate libfuzzer-14-dev is not needed for that.
# The kernel runs no 32-bit code, so the shipped 32-bit program runs under Wine's WoW64 with
# qemu-user emulating the 32-bit Wine loader (wine32:i386, the same Wine as wine64); qemu-user
# comes from backports, below.
# The Linux brandcli is static, so the C libraries (libc6-dev and the cross ones) end up inside
# it: they are part of the toolchain as much as the compilers are.
PACKAGES=(
    cmake g++ make googletest libgtest-dev libc6-dev
    g++-aarch64-linux-gnu libc6-dev-arm64-cross g++-arm-linux-gnueabihf libc6-dev-armhf-cross
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    wine64 xvfb socat imagemagick xdotool x11-utils x11-xserver-utils fonts-wqy-zenhei fonts-wine locales
    python3 python3-pytest python3-pefile python3-serial
    clang clang-format libclang-rt-14-dev
    wine32:i386
    qemu-system-x86 busybox-static cpio
)
TEST_USER=brandtest

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture"
    dpkg --add-architecture i386
fi

missing=()
for pkg in "${PACKAGES[@]}"; do
    if [ "$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null)" != installed ]; then
        missing+=("$pkg")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
    echo "setup: packages present"
fi

# The virtual machine that runs brandcli on the kernel's own serial drivers boots Debian's
# kernel from its package's files: unpacked into a folder of its own rather than installed, which
# would run initramfs and udev hooks on this machine for nothing.
VM_CACHE=/var/cache/brand-vm
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1
}
kernel_pkg=$(kernel_package)
if [ -z "$kernel_pkg" ]; then
    apt-get update -qq >/dev/null  # lists cleaned away, as in some containers
    kernel_pkg=$(kernel_package)
fi
kernel_version=${kernel_pkg#linux-image-}
if [ -z "$kernel_pkg" ]; then
    echo "setup: no kernel package named by linux-image-amd64: the virtual machine tests will fail" >&2
elif [ -f "$VM_CACHE/$kernel_version/boot/vmlinuz-$kernel_version" ]; then
    echo "setup: kernel $kernel_version present in $VM_CACHE"
else
    echo "setup: unpacking $kernel_pkg into $VM_CACHE/$kernel_version"
    unpack=$(mktemp -d)
    chmod 755 "$unpack"  # apt fetches as its own user
    (cd "$unpack" && apt-get download -qq "$kernel_pkg" >/dev/null)
    rm -rf "$VM_CACHE/$kernel_version.new"
    mkdir -p "$VM_CACHE"
    dpkg-deb -x "$unpack"/"$kernel_pkg"_*.deb "$VM_CACHE/$kernel_version.new"
    rm -rf "$unpack" "$VM_CACHE/$kernel_version"
    mv "$VM_CACHE/$kernel_version.new" "$VM_CACHE/$kernel_version"
    # The tests boot the newest; an older kernel's 400 MB would only lie there.
    find "$VM_CACHE" -mindepth 1 -maxdepth 1 ! -name "$kernel_version" -exec rm -rf {} +
fi

# Debian 12's qemu 7.2 kills any 32-bit Wine process in which two threads work at once, and takes
# about 50 s to start one; 10.0 from bookworm-backports has neither fault. Only qemu-user comes
# from there (its static emulators; qemu-user-static is a transitional package in that packaging
# and would pull in binfmt entries of its own), and 7.2's qemu-user-static goes.
BACKPORTS=/etc/apt/sources.list.d/bookworm-backports.sources
QEMU_MIN=1:10
if [ ! -e "$BACKPORTS" ]; then
    echo "setup: adding bookworm-backports ($BACKPORTS)"
    cat >"$BACKPORTS" <<'SOURCES'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt-get update -qq >/dev/null
fi
qemu_version=$(dpkg-query -W -f='${db:Status-Status} ${Version}' qemu-user 2>/dev/null || true)
if [[ $qemu_version != installed\ * ]] || dpkg --compare-versions "${qemu_version#installed }" lt "$QEMU_MIN"; then
    echo "setup: installing qemu-user from bookworm-backports"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    # qemu-user/bookworm-backports, not -t bookworm-backports: with the whole release as the
    # target, apt also moves every installed package of the same source to backports (the
    # system emulator qemu-system-x86, its data and seabios), which must stay Debian 12's.
    apt-get install -y -qq --no-install-recommends qemu-user/bookworm-backports \
        qemu-user-static- >/dev/null
else
    echo "setup: qemu-user ${qemu_version#installed } present"
fi
qemu_binary() {
    dpkg -L qemu-user | grep -x "/usr/bin/qemu-$1" ||
        { echo "setup: qemu-user holds no /usr/bin/qemu-$1" >&2; exit 1; }
}
QEMU_I386=$(qemu_binary i386)

# No i386 handler comes with qemu-user on amd64, and neither the mount nor the registration
# survives a reboot. F (fix-binary) opens the emulator at registration, so it also serves the
# test user's processes, and keeps serving that very file after an upgrade has replaced it: an
# entry for another path, or made before the file last changed (the record in /run, which a
# reboot clears too), is replaced. A machine that refuses either still runs every 64-bit test;
# the 32-bit tests then fail, saying what is missing.
BINFMT=/proc/sys/fs/binfmt_misc
ENTRY=$BINFMT/qemu-i386
RECORD=/run/brand-qemu-i386.sha256
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
if [ ! -e "$BINFMT/register" ]; then
    mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null ||
        echo "setup: cannot mount $BINFMT: 32-bit programs will not run here"
fi
if [ -e "$BINFMT/register" ]; then
    wanted="$(sha256sum "$QEMU_I386" | cut -d' ' -f1) $QEMU_I386"
    if [ -e "$ENTRY" ] && { ! grep -qx "interpreter $QEMU_I386" "$ENTRY" ||
        ! grep -qx 'flags: F' "$ENTRY" || [ "$(cat "$RECORD" 2>/dev/null)" != "$wanted" ]; }; then
        echo "setup: replacing the qemu-i386 entry ($(grep '^interpreter' "$ENTRY"))"
        echo -1 >"$ENTRY"
    fi
    if [ ! -e "$ENTRY" ]; then
        echo "setup: registering $QEMU_I386 for 32-bit programs"
        if printf ':qemu-i386:M::%s:%s:%s:F' "$I386_MAGIC" "$I386_MASK" "$QEMU_I386" \
            >"$BINFMT/register" 2>/dev/null; then
            echo "$wanted" >"$RECORD"
        else
            echo "setup: cannot register qemu-i386 in $BINFMT: 32-bit programs will not run here"
        fi
    fi
    # Asked of the registered emulator itself, through the kernel: what every 32-bit process gets.
    if [ -e "$ENTRY" ]; then
        echo "setup: 32-bit programs run on $(QEMU_VERSION=1 /usr/lib/wine/wine 2>&1 | head -n 1)"
    fi
fi

# The Chinese locale gives Wine's programs the GBK code page (936).
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    echo "setup: generating zh_CN.UTF-8"
    if grep -q '^# *zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
        sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    elif ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
        echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
    fi
    locale-gen >/dev/null
else
    echo "setup: zh_CN.UTF-8 present"
fi

# Wine maps COM1 to /dev/ttyS0, the machine's console. Every Wine run and fake device is
# this user's, and this user must not be able to open any /dev/ttyS*.
if ! id "$TEST_USER" >/dev/null 2>&1; then
    echo "setup: creating user $TEST_USER"
    useradd -m -s /bin/bash "$TEST_USER"
else
    echo "setup: user $TEST_USER present"
fi
for group in dialout tty uucp; do
    if id -nG "$TEST_USER" | tr ' ' '\n' | grep -qx "$group"; then
        echo "setup: removing $TEST_USER from group $group"
        gpasswd -d "$TEST_USER" "$group" >/dev/null
    fi
done
for dev in /dev/ttyS*; do
    [ -e "$dev" ] || continue
    if runuser -u "$TEST_USER" -- test -r "$dev" -o -w "$dev" 2>/dev/null; then
        echo "setup: $dev was open to $TEST_USER; restricting it to root"
        chmod o-rw "$dev"
        runuser -u "$TEST_USER" -- test -r "$dev" -o -w "$dev" 2>/dev/null &&
            { echo "setup: $TEST_USER can still open $dev" >&2; exit 1; }
    fi
done
# Without the file, Xlib looks for it again at every font selection of every Wine window,
# which shows up in the timings of the tests and benchmarks.
home=$(getent passwd "$TEST_USER" | cut -d: -f6)
if [ -n "$home" ] && [ ! -e "$home/.Xdefaults" ]; then
    runuser -u "$TEST_USER" -- touch "$home/.Xdefaults"
fi
echo "setup: done"
