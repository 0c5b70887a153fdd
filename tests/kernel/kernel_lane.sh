#!/usr/bin/env bash
# The kernel lane: boots Debian 12's own kernel under qemu with a busybox
# initramfs, and runs the real dio-exerciser, dio-map and dio-probe there on the
# kernel's GPIO simulator and on comedi devices attached to what qemu
# emulates (the checks are in init, beside this script).
#
# Debian's kernel does not build gpio-sim, so it is built here from Debian's
# linux-source against the matching headers, with gpio-sim-no-irq.patch:
# its simulated interrupts need CONFIG_IRQ_SIM, which Debian leaves off,
# and no check needs an edge event. The packages are fetched with
# apt-get download, unpacked, never installed, and kept in a cache.
#
#   kernel_lane.sh <dio-exerciser> <dio-map> <dio-probe> <libVornel.so> <work dir>
#
# Exits 77 (skipped) where qemu or the packages cannot be had; in CI
# (CI=true) that is a failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exerciser=$1 mapper=$2 probe=$3 board_lib=$4 work=$5
checks=$(grep -cE "^ *expect(_in)? " "$here/init") # as many as init makes

skip() {
    echo "skipped: $*"
    [ "${CI:-}" != true ] || { echo "CI=true: the kernel lane must run"; exit 1; }
    exit 77
}
for need in qemu-system-x86_64:qemu-system-x86 busybox:busybox-static \
    /usr/sbin/comedi_config:libcomedi0 apt-get:apt dpkg-deb:dpkg make:make gcc-12:gcc-12; do
    command -v "${need%:*}" >/dev/null || skip "needs ${need%:*} (apt-get install ${need#*:})"
done

# Debian's current kernel, as linux-image-amd64 has it.
image=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -n 1)
[ -n "$image" ] || skip "apt knows no linux-image-amd64 (apt-get update)"
abi=${image#linux-image-}
version=$(apt-cache policy "$image" | sed -n 's/^ *Candidate: //p')
kbuild=$(apt-cache depends "linux-headers-$abi" | sed -n 's/^ *Depends: \(linux-kbuild-.*\)$/\1/p')
cache=${DIO_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/dio-exerciser/kernel}/$image-$version
root=$cache/root
headers=$root/usr/src/linux-headers-$abi

if [ ! -e "$cache/unpacked" ]; then
    echo "fetching $image $version"
    rm -rf "$cache"
    mkdir -p "$cache/debs"
    sandbox=()
    [ "$(id -u)" != 0 ] || sandbox=(-o APT::Sandbox::User=root)
    # The source of the same version as the image (kbuild's tools need not be).
    (cd "$cache/debs" && apt-get download -q "${sandbox[@]}" "$image=$version" \
        "linux-headers-$abi=$version" "linux-headers-${abi%-amd64}-common=$version" \
        "$kbuild" "linux-source-${version%.*}=$version") ||
        skip "cannot download $image $version and its headers and source"
    for deb in "$cache"/debs/linux-{image,headers,kbuild}*.deb; do dpkg-deb -x "$deb" "$root"; done
    # The headers include their common part by its installed path.
    sed -i "s#^include /usr/src/#include $root/usr/src/#" "$headers/Makefile"
    mkdir -p "$cache/src"
    dpkg-deb --fsys-tarfile "$cache"/debs/linux-source-*.deb |
        tar -xO --wildcards './usr/src/linux-source-*.tar.xz' | busybox xz -dc |
        tar -x -C "$cache/src" --strip-components=1 --wildcards \
            '*/drivers/gpio/gpio-sim.c' '*/drivers/gpio/gpiolib.h'
    rm -rf "$cache/debs"
    touch "$cache/unpacked"
fi

patch_sum=$(sha256sum "$here/gpio-sim-no-irq.patch" | cut -c1-12)
module=$cache/gpio-sim-$patch_sum.ko
if [ ! -e "$module" ]; then
    echo "building gpio-sim for $abi"
    build=$(mktemp -d)
    trap 'rm -rf "$build"' EXIT
    mkdir -p "$build/drivers/gpio"
    cp "$cache"/src/drivers/gpio/{gpio-sim.c,gpiolib.h} "$build/drivers/gpio/"
    (cd "$build" && busybox patch -p1 -i "$here/gpio-sim-no-irq.patch" >/dev/null)
    echo 'obj-m := gpio-sim.o' >"$build/drivers/gpio/Kbuild"
    make -s -C "$headers" M="$build/drivers/gpio" modules 2>&1 | grep -v 'BTF' || true
    cp "$build/drivers/gpio/gpio-sim.ko" "$module"
fi

# The initramfs: busybox, the modules, the programs and every library
# they load, each at the path the loader looks for it.
stage=$work/stage
rm -rf "$work"
mkdir -p "$stage"/{bin,modules,proc,sys,dev,tmp,opt/dio/bin,opt/dio/lib/dio-exerciser,usr/sbin}
cp "$(command -v busybox)" "$stage/bin/busybox"
install -m 0755 "$here/init" "$stage/init"
cp "$module" "$stage/modules/gpio-sim.ko"
for name in configfs comedi kcomedilib comedi_8255 8255 comedi_parport comedi_bond; do
    find "$root/lib/modules/$abi/kernel" -name "$name.ko" -exec cp {} "$stage/modules/" \;
done
cp "$exerciser" "$mapper" "$probe" "$stage/opt/dio/bin/"
cp "$board_lib" "$stage/opt/dio/lib/dio-exerciser/"
cp /usr/sbin/comedi_config "$stage/usr/sbin/"
for binary in "$(command -v busybox)" "$exerciser" "$mapper" "$probe" "$board_lib" \
    /usr/sbin/comedi_config; do
    ldd "$binary" 2>/dev/null | grep -o '/[^ ]*' | grep -v libVornel || true
done | sort -u | while read -r lib; do
    mkdir -p "$stage$(dirname "$lib")"
    cp -L "$lib" "$stage$lib"
done
(cd "$stage" && find . | busybox cpio -o -H newc 2>/dev/null) >"$work/initrd"

# KVM where it really works, plain emulation otherwise; no_timer_check
# keeps a slow emulated boot from panicking over the timer.
accel=tcg
[ ! -w /dev/kvm ] || accel=kvm:tcg
parports=()
n=0
for base in 0x378 0x278 0x300 0x308; do
    # qemu takes three port indexes; the fourth port shares the third's.
    parports+=(-chardev "null,id=lpt$n" -device "isa-parallel,chardev=lpt$n,iobase=$base,index=$((n < 2 ? n : 2))")
    n=$((n + 1))
done
echo "booting $image $version ($accel)"
start=$SECONDS
timeout 600 qemu-system-x86_64 -machine "pc,accel=$accel" -m 512 -nodefaults -nographic \
    -no-reboot -serial stdio -device pc-testdev "${parports[@]}" \
    -kernel "$root/boot/vmlinuz-$abi" -initrd "$work/initrd" \
    -append "console=ttyS0 quiet no_timer_check panic=-1" \
    </dev/null >"$work/console.log" 2>&1 || true
tr -d '\r' <"$work/console.log" | grep -E '^(ok|FAIL|seen|lane:)' || true
echo "in $((SECONDS - start)) s"
if ! grep -q "^lane: $checks passed, 0 failed" "$work/console.log"; then
    echo "the lane did not pass all $checks checks; the console's end:"
    tail -n 30 "$work/console.log"
    exit 1
fi
