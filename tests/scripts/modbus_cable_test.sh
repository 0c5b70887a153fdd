#!/usr/bin/env bash
# A pulled cable: the module (modbus-peer) in one network namespace, the
# program in another, joined by a veth pair. Taking the module's end down
# drops every packet without a reset; the program must go on printing one
# line per cycle, never a stale one, and read right again once the cable
# is back. Needs root and network namespaces; exits 77 (skipped) without.
#
#   modbus_cable_test.sh <dio-exerciser> <modbus-peer> <fast_wait library> [<emulator>]
set -euo pipefail
program=$1 peer=$2 fast_wait=$3
# A cross build's programs run through its emulator, which passes the
# preload on to them alone.
run=("${@:4}")

skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root"
command -v ip >/dev/null || skip "needs ip (iproute2)"
# What ip netns mounts (/run/netns and a file per namespace) stays in a
# mount namespace of this test's own and goes with it, on every way out.
if [ -z "${DIO_OWN_MOUNTS:-}" ]; then
    why=$(unshare --mount --propagation private true 2>&1) ||
        skip "cannot make a mount namespace here: $why"
    DIO_OWN_MOUNTS=1 exec unshare --mount --propagation private bash "$0" "$@"
fi

module_ns=dio-module-$$ program_ns=dio-program-$$
work=$(mktemp -d)
pids=()
# The loader splits LD_PRELOAD at spaces: the library through a link here.
ln -s "$fast_wait" "$work/${fast_wait##*/}"
fast_wait=$work/${fast_wait##*/}
preload=LD_PRELOAD="$fast_wait"
[ -z "${4:-}" ] || preload=QEMU_SET_ENV="LD_PRELOAD=$fast_wait"
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    ip netns del "$module_ns" 2>/dev/null || true
    ip netns del "$program_ns" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$module_ns" 2>/dev/null || skip "cannot make a network namespace here"
ip netns add "$program_ns"
# ip netns exec remounts / as a slave, which fails where / is no mount
# point, as in a chroot.
why=$(ip netns exec "$module_ns" true 2>&1) || skip "ip netns exec fails here: $why"

# The addresses exist only inside the two namespaces this test made.
ip link add "dm$$" type veth peer name "dp$$"
ip link set "dm$$" netns "$module_ns"
ip link set "dp$$" netns "$program_ns"
ip -n "$module_ns" addr add 192.0.2.1/24 dev "dm$$"
ip -n "$program_ns" addr add 192.0.2.2/24 dev "dp$$"
ip -n "$module_ns" link set "dm$$" up
ip -n "$program_ns" link set "dp$$" up
# Known neighbours: no address lookup to fail and report the outage early.
mac() { ip -n "$1" -o link show "$2" | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p'; }
ip -n "$program_ns" neigh replace 192.0.2.1 lladdr "$(mac "$module_ns" "dm$$")" dev "dp$$" nud permanent
ip -n "$module_ns" neigh replace 192.0.2.2 lladdr "$(mac "$program_ns" "dp$$")" dev "dm$$" nud permanent

mkfifo "$work/commands"
ip netns exec "$module_ns" "${run[@]}" "$peer" --tcp 192.0.2.1 --port 1502 \
    <"$work/commands" >"$work/peer" 2>&1 &
pids+=($!)
exec 3>"$work/commands" # the peer runs while this is open

fail() { echo "FAILED: $*"; cat "$work/out" "$work/err" "$work/peer" 2>/dev/null; exit 1; }
for _ in $(seq 50); do grep -q '^port' "$work/peer" && break; sleep 0.1; done
grep -q '^port 1502' "$work/peer" || fail "the peer did not start"

ip netns exec "$program_ns" env "$preload" FASTWAIT_MS=100 \
    ASAN_OPTIONS=verify_asan_link_order=0 \
    VORNEL_BOARD1_MODBUS=192.0.2.1:1502 VORNEL_BOARD1_DO=coils:0-31 \
    VORNEL_BOARD1_DI=inputs:0-31 VORNEL_BOARD1_TIMEOUT_MS=200 VORNEL_VERBOSE=1 \
    "${run[@]}" "$program" </dev/null >"$work/out" 2>"$work/err" &
pids+=($!)
program_pid=$!

sockets() { find "/proc/$program_pid/fd" -lname 'socket:*' 2>/dev/null | wc -l; }
lines() { wc -l <"$work/out"; }
# Each line shows the pattern written and either the same word or 0. Or,
# on the first line after a failed read, the pattern before: the write
# that reconnected may fail and the read then succeed, and the inputs
# still hold the pattern before. Never what an earlier request read.
sound() {
    awk -F'[:,]' '{ flipped = ($2 == "55555555" && $4 == "aaaaaaaa") ||
                              ($2 == "aaaaaaaa" && $4 == "55555555") }
                  !(($4 == $2) || ($4 == "0") || (flipped && last == "0")) {
                      print "unsound line " NR ": " $0; bad = 1 }
                  { last = $4 }
                  END { exit bad }' "$work/out"
}

sleep 1.5
[ "$(lines)" -ge 5 ] || fail "too few lines before the cable was pulled"
right() { tail -n "$1" "$work/out" | awk -F'[:,]' '$2 != $4 { bad = 1 } END { exit bad }'; }
right 3 || fail "not right before"

ip -n "$module_ns" link set "dm$$" down # the cable is pulled
before=$(lines)
for _ in 1 2 3 4 5 6; do
    sleep 0.5
    [ "$(sockets)" -le 1 ] || fail "more than one socket open"
done
during=$(( $(lines) - before ))
# A cycle is at most 100 ms plus four timeouts of 200 ms.
[ "$during" -ge 3 ] || fail "only $during lines in 3 s without the cable"
tail -n 2 "$work/out" | grep -q ',di:0$' || fail "reads did not fail while the cable was out"

ip -n "$module_ns" link set "dm$$" up # and plugged in again
sleep 2
right 3 || fail "not right after"
sound || fail "a line showed what an earlier request read"
grep -q "vornel: " "$work/err" || fail "no reason given"
sort "$work/err" | uniq -c
echo "passed: $during lines during 3 s without the cable, $(lines) in all"
