#!/usr/bin/env bash
# The Windows exerciser on Vornel.dll's Modbus board, under wine, against
# modbus-peer running natively on 127.0.0.1 (tcp), or on a pseudo-terminal
# that a COM port of the wine prefix leads to (rtu; exits 77, skipped, with
# wine's reason where wine cannot drive it).
#
#   wine_modbus_test.sh tcp|rtu <dio-exerciser.exe> <modbus-peer> <wine command>...
set -euo pipefail
mode=$1 program=$2 peer=$3
shift 3
wine=("$@")
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }

start_peer() { # <args>...: a peer, held by its input, its port or pty in $where
    rm -f "$work/commands"
    mkfifo "$work/commands"
    "$peer" --quiet "$@" <"$work/commands" >"$work/peer" 2>&1 &
    pids+=($!)
    peer_pid=$!
    exec 3>"$work/commands"
    for _ in $(seq 50); do [ -s "$work/peer" ] && break; sleep 0.1; done
    where=$(sed -n '1s/^\(port\|pty\) //p' "$work/peer")
    [ -n "$where" ] || fail "the peer did not start: $(cat "$work/peer")"
}
start() { # <settings>...: the program in the background
    env VORNEL_BOARD1_DO=coils:0-31 VORNEL_BOARD1_DI=inputs:0-31 "$@" \
        "${wine[@]}" "$program" </dev/null >"$work/out" 2>"$work/err" &
    pids+=($!)
    program_pid=$!
}
lines() { tr -d '\r' <"$work/out" | sed -n "$1,\$p"; }
wait_lines() { # <n> [<seconds>]
    for _ in $(seq $((${2:-10} * 10))); do [ "$(lines 1 | wc -l)" -ge "$1" ] && return; sleep 0.1; done
    fail "fewer than $1 lines: $(cat "$work/out" "$work/err")"
}
opens_not() { # <part of the reason> <settings>...: fails to open, saying why
    local part=$1
    shift
    env VORNEL_VERBOSE=1 VORNEL_BOARD1_DO=coils:0-31 "$@" "${wine[@]}" "$program" </dev/null \
        >"$work/out" 2>"$work/err" || fail "status $? for $*"
    printf 'Open device failed!\r\n' | cmp -s - "$work/out" || fail "$* printed $(cat "$work/out")"
    grep -qF -- "$part" "$work/err" || fail "$*: '$(cat "$work/err")' does not say '$part'"
    echo "ok: $* -> $(cat "$work/err")"
}
right() { awk -F'[:,]' '$2 != $4 { bad = 1 } END { exit bad }'; }

if [ "$mode" = rtu ]; then
    start_peer --rtu
    prefix=$(printf '%s\n' "${wine[@]}" | sed -n 's/^WINEPREFIX=//p')
    ln -sfn "$where" "$prefix/dosdevices/com7"
    start VORNEL_VERBOSE=1 VORNEL_BOARD1_MODBUS=com7 VORNEL_BOARD1_DI=coils:0-31 \
        VORNEL_BOARD1_SERIAL=19200,8E1
    for _ in $(seq 60); do
        [ "$(lines 1 | wc -l)" -ge 2 ] || grep -q "Open device failed" "$work/out" && break
        sleep 0.1
    done
    if grep -q "Open device failed" "$work/out"; then
        echo "skipped: wine cannot drive the pseudo-terminal $where as COM7: $(cat "$work/err")"
        exit 77
    fi
    wait_lines 2
    lines 1 | head -n 2 | right || fail "coils over RTU read back wrong: $(lines 1)"
    echo "passed: COM7 -> $where, $(lines 1 | head -n 2 | tr '\n' ' ')"
    exit 0
fi

# Report lines byte for byte, CR LF and all, and nothing on standard error.
start_peer --tcp 127.0.0.1
start VORNEL_BOARD1_MODBUS="127.0.0.1:$where"
wait_lines 3
kill "$program_pid"
printf 'do:55555555,di:55555555\r\ndo:aaaaaaaa,di:aaaaaaaa\r\ndo:55555555,di:55555555\r\n' |
    cmp -s - <(head -c 75 "$work/out") || fail "lines: $(od -c "$work/out" | head)"
[ ! -s "$work/err" ] || fail "standard error without VORNEL_VERBOSE: $(cat "$work/err")"
echo "ok: TCP lines"

start VORNEL_BOARD1_MODBUS="127.0.0.1:$where" VORNEL_BOARD1_DI=coils:0-31
wait_lines 2
kill "$program_pid"
lines 1 | head -n 2 | right || fail "coils read back wrong: $(lines 1)"
echo "ok: coils read back"

# The module killed and started again on its port: the run goes on with
# no stale line, and is right again once it is back.
port=$where
start VORNEL_VERBOSE=1 VORNEL_BOARD1_MODBUS="127.0.0.1:$port" VORNEL_BOARD1_TIMEOUT_MS=100
wait_lines 2
kill "$peer_pid"
exec 3>&-
seen=$(lines 1 | wc -l)
wait_lines $((seen + 3)) 15
start_peer --tcp 127.0.0.1 --port "$port"
back=$(lines 1 | wc -l)
wait_lines $((back + 4)) 15
kill "$program_pid"
lines "$((seen + 2))" | head -n 1 | grep -q ',di:0$' || fail "no outage seen: $(lines 1)"
lines "$((back + 3))" | head -n 2 | right || fail "not right after the restart: $(lines 1)"
# Right, or 0 from a failed read, or, just after one, the pattern before.
lines 1 | awk -F'[:,]' '{ flipped = ($2 == "55555555" && $4 == "aaaaaaaa") ||
                                    ($2 == "aaaaaaaa" && $4 == "55555555") }
                        !($4 == $2 || $4 == "0" || (flipped && prev == "0")) { bad = 1 }
                        { prev = $4 } END { exit bad }' || fail "a stale line: $(lines 1)"
grep -q "127.0.0.1:$port: writing coils 0-31: " "$work/err" || fail "no reason: $(cat "$work/err")"
echo "ok: module restarted: $(lines 1 | tr '\n' ' ')"

# Failures at open, each with its reason, in Windows' words where the
# system's.
opens_not "127.0.0.1:1: connecting: " VORNEL_BOARD1_MODBUS=127.0.0.1:1
grep -qE "connecting: [A-Z][a-z]+" "$work/err" || fail "not in words: $(cat "$work/err")"
start_peer --tcp 127.0.0.1 --bits 16
opens_not "reading coils 0-31: Illegal data address" VORNEL_BOARD1_MODBUS="127.0.0.1:$where"
opens_not "is how Linux names a serial port: on Windows give COM<n>" \
    VORNEL_BOARD1_MODBUS=/dev/ttyUSB0
opens_not "not a serial port 1-255" VORNEL_BOARD1_MODBUS=COM0
opens_not "not a serial port 1-255" VORNEL_BOARD1_MODBUS='\\.\COM256'
opens_not "\\\\.\\COM9: opening the port: " VORNEL_BOARD1_MODBUS=com9
opens_not "not a baud rate" VORNEL_BOARD1_MODBUS=COM3 VORNEL_BOARD1_SERIAL=576000
opens_not "framing such as 8N1" VORNEL_BOARD1_MODBUS=COM3 VORNEL_BOARD1_SERIAL=9600,8X1
opens_not "(VORNEL_BOARD1_MODBUS=COM<n>" VORNEL_BOARD1_MODBUS=h VORNEL_BOARD1_SERIAL=9600
opens_not "not a URL" VORNEL_BOARD1_MODBUS=http://127.0.0.1:502
opens_not "in brackets" VORNEL_BOARD1_MODBUS=fd00::5:1502
opens_not "is not a port 1-65535" VORNEL_BOARD1_MODBUS=127.0.0.1:0
opens_not "use a unit id 0-247" VORNEL_BOARD1_MODBUS=h VORNEL_BOARD1_UNIT=248
opens_not "as in coils:0-15" VORNEL_BOARD1_MODBUS=h VORNEL_BOARD1_DO=0-15
opens_not "comedi boards need Linux" VORNEL_BOARD1=comedi
echo "passed"
