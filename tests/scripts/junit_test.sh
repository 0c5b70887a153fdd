#!/usr/bin/env bash
# dio-check's and dio-map's JUnit files read back by a real consumer,
# Debian's python3-junitparser: the counts, the failing cases and their
# messages, markup in a message, and a file that cannot be written.
# Exits 77 (skipped) without junitparser; in CI (CI=true) that fails.
#   junit_test.sh <scripted board folder> <dio-check> <dio-map> [<emulator>...]
set -euo pipefail
fake=$1 check=$2 map=$3
shift 3
run=("$@") # the emulator, for a cross build
python=/usr/bin/python3
skip() {
    echo "skipped: $*"
    [ "${CI:-}" != true ] || { echo "CI=true: the JUnit test must run"; exit 1; }
    exit 77
}
"$python" -c 'import junitparser' 2>/dev/null ||
    skip "needs python3-junitparser (apt-get install python3-junitparser)"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# <file> <tests> <failures> <errors> <skipped> <name|outcome|message[|type]>...:
# the suite's counts, as written and as its cases add up, and each case
# that did not pass, with the word for its fault where it has one: the
# same words in both tools.
read_back() {
    "$python" - "$@" <<'PY'
import sys
from junitparser import JUnitXml
path, tests, failures, errors, skipped, *cases = sys.argv[1:]
suite = JUnitXml.fromfile(path)
written = (suite.tests, suite.failures, suite.errors, suite.skipped)
got = {}
for case in suite:
    for result in case.result:
        kind = f"|{result.type}" if result.type else ""
        got[case.name] = f"{case.name}|{type(result).__name__.lower()}|{result.message}{kind}"
counted = (len(list(suite)), *(sum(1 for g in got.values() if g.split("|")[1] == kind)
                              for kind in ("failure", "error", "skipped")))
want = tuple(int(n) for n in (tests, failures, errors, skipped))
assert written == want == counted, f"{path}: counts {written} written, {counted} counted, {want} wanted"
assert sorted(got.values()) == sorted(cases), f"{path}: {sorted(got.values())}"
assert suite.timestamp and suite.hostname and float(suite.time) >= 0, path
PY
}

# DI 5 stuck low, DI 20 wrong once, DO 31 never high: undecided.
printf '%s\n' do:55555555,di:55555555 do:2aaaaaaa,di:2aaaaa8a do:55555555,di:55455555 \
    do:2aaaaaaa,di:2aaaaa8a >"$dir/log.txt"
status=0
"${run[@]}" "$check" "$dir/log.txt" --junit "$dir/check.xml" >/dev/null || status=$?
[ "$status" = 1 ] || fail "dio-check: status $status"
read_back "$dir/check.xml" 32 2 0 1 "DI 5|failure|stuck low|stuck-low" \
    "DI 20|failure|intermittent, wrong in 1 of 4 lines|intermittent" \
    "DI 31|skipped|undecided, DO 31 was 0 in all 4 lines (a verdict needs both levels)"

# A report that is not one: an error, its message with its markup intact.
printf '%s\n' do:55555555,di:55555555 do:aaaaaaaa,di:aaaaaaaa '<b>&"x"' >"$dir/bad.txt"
status=0
"${run[@]}" "$check" "$dir/bad.txt" --junit "$dir/bad.xml" >/dev/null 2>"$dir/err" || status=$?
[ "$status" = 2 ] || fail "dio-check on a bad report: status $status"
read_back "$dir/bad.xml" 33 0 1 0 "report|error|$(sed 's/^dio-check: //' "$dir/err")"

# dio-map on the scripted board: DO 3 and DO 4 shorted, DI 8 and DI 10
# crossed, DI 5 stuck low.
status=0
LD_LIBRARY_PATH=$fake FAKEBOARD_CYCLES=1000 \
    FAKEBOARD_WIRE=$'DI 3: DO 3 & DO 4\nDI 4: DO 3 & DO 4\nDI 5: low\nDI 8: DO 10\nDI 10: DO 8' \
    "${run[@]}" "$map" --outputs ffff --inputs ffff --junit "$dir/map.xml" >/dev/null || status=$?
[ "$status" = 1 ] || fail "dio-map: status $status"
read_back "$dir/map.xml" 16 5 0 0 "DI 3|failure|reads DO 3 & DO 4, expected DO 3|shorted" \
    "DI 4|failure|reads DO 3 & DO 4, expected DO 4|shorted" \
    "DI 5|failure|reads low, expected DO 5|stuck-low" \
    "DI 8|failure|reads DO 10, expected DO 8|crossed" "DI 10|failure|reads DO 8, expected DO 10|crossed"

# Neither passes in silence where the file cannot be written.
for tool in check map; do
    command=("$map")
    [ "$tool" = map ] || command=("$check" "$dir/log.txt")
    status=0
    LD_LIBRARY_PATH=$fake "${run[@]}" "${command[@]}" --junit "$dir/none/x.xml" >/dev/null \
        2>"$dir/err" || status=$?
    [ "$status" = 2 ] && grep -q "none/x.xml: No such file or directory" "$dir/err" ||
        fail "dio-$tool with an unwritable file: status $status, $(cat "$dir/err")"
done
leftover=$(ls "$dir" | grep -v -x -e log.txt -e bad.txt -e err -e check.xml -e bad.xml -e map.xml || true)
[ -z "$leftover" ] || fail "left behind: $leftover"
echo "JUnit files read back by junitparser $("$python" -c 'import junitparser; print(junitparser.version)')"
