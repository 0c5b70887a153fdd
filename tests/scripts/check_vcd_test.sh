#!/usr/bin/env bash
# dio-check's waveform read back by a real reader, sigrok-cli: the levels
# of a few lines, one sample per report line. Exits 77 (skipped) without it.
#   check_vcd_test.sh [<emulator>] <dio-check>
set -euo pipefail
check=("$@")
if ! command -v sigrok-cli >/dev/null; then
    echo "skipped: sigrok-cli is not installed (apt-get install sigrok-cli)"
    exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# DI 5 stuck low, DI 30 wrong once.
printf '%s\r\n' do:55555555,di:55555555 do:aaaaaaaa,di:aaaaaa8a \
    do:55555555,di:15555555 do:aaaaaaaa,di:aaaaaa8a do:55555555,di:55555555 >"$dir/report.txt"
status=0
"${check[@]}" "$dir/report.txt" --vcd "$dir/run.vcd" >/dev/null || status=$?
[ "$status" -eq 1 ] || { echo "dio-check ended with $status, not 1"; exit 1; }

# One sample a second: the timescale is 1 ms and lines are 1000 ms apart.
got=$(sigrok-cli -I vcd:downsample=1000 -i "$dir/run.vcd" -O bits \
    -C do0,do1,do31,di0,di5,di30 2>/dev/null | grep -E '^d[io][0-9]+:')
expected='do0:10101
do1:01010
do31:01010
di0:10101
di5:00000
di30:10001'
if [ "$got" != "$expected" ]; then
    printf 'sigrok-cli read:\n%s\nexpected:\n%s\n' "$got" "$expected"
    exit 1
fi
echo "sigrok-cli reads the waveform as written"
