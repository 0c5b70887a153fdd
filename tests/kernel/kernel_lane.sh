#!/usr/bin/env bash
# The kernel lane: boots Debian 12's own kernel under qemu with a busybox
# initramfs, and runs the real dio-exerciser, dio-map, dio-set, dio-get and
# dio-probe there on the kernel's GPIO simulator and on comedi devices
# attached to what qemu emulates (the checks are in init, beside this
# script).
#
# Debian's kernel does not build gpio-sim, so it is built here from Debian's
# linux-source against the matching headers, with gpio-sim-no-irq.patch:
# its simulated interrupts need CONFIG_IRQ_SIM, which Debian leaves off,
# and no check needs an edge event. The packages are fetched with
# apt-get download, unpacked, never installed, and kept in a cache.
#
#   kernel_lane.sh <dio-exerciser> <dio-map> <dio-set> <dio-get> <dio-probe> <libVornel.so> <work dir>
#
# Exits 77 (skipped) where qemu or the packages cannot be had; in CI
# (CI=true) that is a failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exerciser=$1 mapper=$2 setter=$3 getter=$4 probe=$5 board_lib=$6 work=$7
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
cp "$exerciser" "$mapper" "$setter" "$getter" "$probe" "$stage/opt/dio/bin/"
cp "$board_lib" "$stage/opt/dio/lib/dio-exerciser/"
cp /usr/sbin/comedi_config "$stage/usr/sbin/"
for binary in "$(command -v busybox)" "$exerciser" "$mapper" "$setter" "$getter" "$probe" \
    "$board_lib" /usr/sbin/comedi_config; do
    ldd "$binary" 2>/dev/null | grep -v libVornel | grep -o '/[^ ]*' || true
done | sort -u | while read -r lib; do
    mkdir -p "$stage$(dirname "$lib")"
    cp -L "$lib" "$stage$lib"
done
(cd "$stage" && find . | busybox cpio -o -H newc 2>/dev/null) >"$work/initrd"

parports=()
n=0
for base in 0x378 0x278 0x300 0x308; do
    # qemu takes three port indexes; the fourth port shares the third's.
    parports+=(-chardev "null,id=lpt$n" -device "isa-parallel,chardev=lpt$n,iobase=$base,index=$((n < 2 ? n : 2))")
    n=$((n + 1))
done
# boot <accel> <log> <kernel arguments...>: qemu in the background, its
# console in <log>; no_timer_check keeps a slow emulated boot from
# panicking over the timer.
boot() {
    local accel=$1 log=$2
    shift 2
    qemu-system-x86_64 -machine "pc,accel=$accel" -m 512 -nodefaults -nographic \
        -no-reboot -serial stdio -device pc-testdev "${parports[@]}" \
        -kernel "$root/boot/vmlinuz-$abi" -initrd "$work/initrd" \
        -append "console=ttyS0 no_timer_check panic=-1 $*" </dev/null >"$log" 2>&1 &
    qemu=$!
}

# KVM only where a kernel has been seen to boot under it: a KVM of a
# virtual machine may start SeaBIOS and then no kernel at all. The
# kernel's first line comes within a second on KVM; TCG otherwise.
# DIO_KERNEL_ACCEL=kvm or tcg decides instead.
accel=${DIO_KERNEL_ACCEL:-}
case "$accel" in
"" | kvm | tcg) ;;
*) echo "DIO_KERNEL_ACCEL=$accel: give kvm or tcg"; exit 1 ;;
esac
if [ -z "$accel" ]; then
    accel=tcg
    if [ -w /dev/kvm ]; then
        boot kvm "$work/kvm-probe.log" earlyprintk=ttyS0 rdinit=/bin/true
        for _ in $(seq 50); do
            grep -q "Linux version" "$work/kvm-probe.log" 2>/dev/null && { accel=kvm; break; }
            kill -0 "$qemu" 2>/dev/null || break
            sleep 0.1
        done
        kill "$qemu" 2>/dev/null || true
        wait "$qemu" 2>/dev/null || true
        [ "$accel" = kvm ] || echo "KVM started no kernel within 5 s: emulating (TCG)"
    fi
fi

# The lane, given up on when its console has said nothing for a minute
# (the checks print one line each) or after ten minutes in all.
echo "booting $image $version ($accel)"
start=$SECONDS
boot "$accel" "$work/console.log" quiet
said=0 quiet_since=$SECONDS why=
while kill -0 "$qemu" 2>/dev/null; do
    size=$(stat -c %s "$work/console.log")
    [ "$size" = "$said" ] || { said=$size quiet_since=$SECONDS; }
    if [ $((SECONDS - quiet_since)) -ge 60 ]; then
        why="nothing on the console for 60 s"
    elif [ $((SECONDS - start)) -ge 600 ]; then
        why="still running after 600 s"
    fi
    [ -z "$why" ] || { kill "$qemu"; break; }
    sleep 1
done
wait "$qemu" 2>/dev/null || true
tr -d '\r' <"$work/console.log" | grep -E '^(ok|FAIL|seen|lane:)' || true
echo "in $((SECONDS - start)) s${why:+: $why}"
if ! grep -q "^lane: $checks passed, 0 failed" "$work/console.log"; then
    echo "the lane did not pass all $checks checks; the console's end:"
    tail -n 30 "$work/console.log"
    exit 1
fi
