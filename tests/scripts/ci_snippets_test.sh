#!/usr/bin/env bash
# The GitLab job and the Jenkins stage that the manual shows, run as
# those runners run them: the job's YAML parsed and its script lines run as
# one bash script under set -eo pipefail; the stage's script run by the
# interpreter its first line names. On the simulated board with a plug that
# fails dio-map, and with one that passes, both files are written and the
# status is dio-map's.
#   ci_snippets_test.sh <document> <bin folder> <fast-wait library>
# Exits 77 (skipped) without python3-yaml; in CI (CI=true) that fails.
set -euo pipefail
doc=$1 bin=$2 fast_wait=$3
python=/usr/bin/python3
"$python" -c 'import yaml' 2>/dev/null || {
    echo "skipped: needs python3-yaml (apt-get install python3-yaml)"
    [ "${CI:-}" != true ] || { echo "CI=true: the snippets must be run"; exit 1; }
    exit 77
}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# The loader splits LD_PRELOAD at spaces: the library through a link here.
ln -s "$fast_wait" "$dir/${fast_wait##*/}"
fast_wait=$dir/${fast_wait##*/}

# The script lines of the document's first yaml block, as GitLab takes them.
"$python" - "$doc" >"$dir/gitlab.sh" <<'PY'
import re, sys, yaml
text = open(sys.argv[1]).read()
block = re.search(r"```yaml\n(.*?)```", text, re.S).group(1)
jobs = yaml.safe_load(block)
job = next(iter(jobs.values()))
print("set -eo pipefail")
print("\n".join(job["script"]))
PY
# The body of the first sh step of the groovy block, as Jenkins writes it.
"$python" - "$doc" >"$dir/jenkins.sh" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
block = re.search(r"```groovy\n(.*?)```", text, re.S).group(1)
sys.stdout.write(re.search(r"sh '''(.*?)'''", block, re.S).group(1))
PY
chmod +x "$dir/jenkins.sh"
head -n 1 "$dir/jenkins.sh" | grep -qx '#!/bin/bash' || fail "the Jenkins step has no #!/bin/bash line"

printf 'DI 0: DO 2\nDI 2: DO 0\n' >"$dir/crossed.map" # a fault the exerciser cannot see
: >"$dir/straight.map"
for runner in gitlab jenkins; do
    for plug in crossed straight; do
        work=$dir/$runner-$plug
        mkdir "$work"
        status=0
        # A sanitized build's preloaded library reaches the shells too,
        # which carry no sanitizer runtime of their own.
        (cd "$work" && env PATH="$bin:$PATH" LD_PRELOAD="$fast_wait" FASTWAIT_MS=0 \
            ASAN_OPTIONS=verify_asan_link_order=0 \
            VORNEL_BOARD1_PLUG="$dir/$plug.map" \
            bash -c 'if [ "$1" = gitlab ]; then exec bash "$2"; else exec "$2"; fi' _ \
            "$runner" "$dir/$runner.sh" >"$work/out" 2>&1) || status=$?
        want=0
        [ "$plug" = straight ] || want=1
        [ "$status" = "$want" ] || fail "$runner on the $plug plug: status $status, not $want: $(cat "$work/out")"
        for file in dio-map.xml dio-check.xml; do
            grep -q '<testsuite' "$work/$file" 2>/dev/null || fail "$runner on the $plug plug wrote no $file"
        done
    done
done
echo "the GitLab job and the Jenkins stage keep both files and fail with dio-map"
