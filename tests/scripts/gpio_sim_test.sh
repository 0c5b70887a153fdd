#!/usr/bin/env bash
# Runs dio-exerciser on a chip of the kernel's GPIO simulator (gpio-sim):
# outputs on lines 0-31, inputs on lines 32-63, two of them pulled up.
# Needs root and a kernel with configfs and gpio-sim; where either is
# missing it exits 77, which CTest reports as skipped.
#
#   gpio_sim_test.sh <dio-exerciser>
set -euo pipefail
program=$1

skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root"
command -v modprobe >/dev/null && modprobe gpio-sim 2>/dev/null || true
config=/sys/kernel/config
if ! mountpoint -q "$config" 2>/dev/null; then
    mount -t configfs none "$config" 2>/dev/null || skip "the kernel has no configfs"
fi
[ -d "$config/gpio-sim" ] || skip "the kernel has no gpio-sim"

sim="$config/gpio-sim/dio-exerciser-$$"
work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    echo 0 >"$sim/live" 2>/dev/null || true
    rmdir "$sim/gpio-bank0" "$sim" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir "$sim" "$sim/gpio-bank0"
echo 64 >"$sim/gpio-bank0/num_lines"
echo 1 >"$sim/live"
chip=$(cat "$sim/gpio-bank0/chip_name")
lines="/sys/devices/platform/$(cat "$sim/dev_name")/$chip"

# Inputs 0 and 3 (lines 32 and 35) high, the others low.
echo pull-up >"$lines/sim_gpio32/pull"
echo pull-up >"$lines/sim_gpio35/pull"

fail() { echo "FAILED: $*"; cat "$work/out" "$work/err"; exit 1; }
level() { cat "$lines/sim_gpio$1/value"; }

VORNEL_BOARD1_DO="$chip:0-31" VORNEL_BOARD1_DI="$chip:32-63" VORNEL_VERBOSE=1 \
    "$program" </dev/null >"$work/out" 2>"$work/err" &
pid=$!

# The outputs hold 0x55555555 for the first second, then 0xaaaaaaaa.
sleep 0.5
[ "$(level 0)$(level 1)$(level 30)$(level 31)" = 1010 ] || fail "outputs after 0.5 s"
sleep 1
[ "$(level 0)$(level 1)$(level 30)$(level 31)" = 0101 ] || fail "outputs after 1.5 s"
sleep 1
printf 'do:55555555,di:9\ndo:aaaaaaaa,di:9\n' | cmp -s - "$work/out" || fail "report lines"
[ ! -s "$work/err" ] || fail "messages on standard error"
echo "passed on $chip"
