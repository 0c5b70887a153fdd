#!/usr/bin/env bash
# dio-check's metrics served by a real node_exporter, started here on a
# free 127.0.0.1 port with only the textfile collector, on a folder of the
# test's own: read over HTTP while report lines arrive one at a time, each
# scrape whole and without error, with the labels given; no temporary file
# left; names node_exporter would not read refused. Exits 77 (skipped)
# without node_exporter; in CI (CI=true) that fails.
#   metrics_test.sh <dio-check> [<emulator>...]
set -euo pipefail
python=/usr/bin/python3
exporter=$(command -v prometheus-node-exporter || true)
if [ -z "$exporter" ] || [ ! -x "$python" ]; then
    echo "skipped: needs prometheus-node-exporter and python3 (apt-get install prometheus-node-exporter)"
    [ "${CI:-}" != true ] || { echo "CI=true: the metrics test must run"; exit 1; }
    exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
exec "$python" - "$exporter" "$dir" "$@" <<'PY'
import os, re, socket, subprocess, sys, time, urllib.request

exporter, folder, *tool = sys.argv[1:]
probe = socket.socket()
probe.bind(("127.0.0.1", 0))
port = probe.getsockname()[1]
probe.close()
served = subprocess.Popen([exporter, f"--web.listen-address=127.0.0.1:{port}",
                           "--collector.disable-defaults", "--collector.textfile",
                           f"--collector.textfile.directory={folder}"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

def scrape():
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=2) as r:
        return r.read().decode()

def series(text):
    return dict(re.findall(r"^(dio_check_[a-z_]+(?:\{.*\})?) (\S+)$", text, re.M))

def until(what, seconds=10):
    end = time.monotonic() + seconds
    while True:
        try:
            got = what()
            if got:
                return got
        except OSError:
            pass
        assert time.monotonic() < end, f"waited {seconds} s for {what.__name__}"
        time.sleep(0.01)

try:
    until(scrape)
    prom = os.path.join(folder, "jig.prom")
    check = subprocess.Popen(tool + ["--metrics", prom, "--metrics-label", "jig=3",
                                     "--metrics-label", 'rack=A "1"'],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    labels = 'jig="3",rack="A \\"1\\""'
    lines = ["do:55555555,di:55555555", "do:aaaaaaaa,di:aaaaaa8a"] * 2
    first_ms = 0
    for n, line in enumerate(lines, 1):
        start = time.monotonic()
        check.stdin.write(line + "\n")
        check.stdin.flush()

        def line_served():
            text = scrape()
            assert "node_textfile_scrape_error 0" in text, text
            got = series(text)
            # Whole or not there at all: never a file cut short.
            wrong = [k for k in got if k.startswith("dio_check_input_wrong_total")]
            assert not got or len(wrong) == 32, text
            return got if got.get(f"dio_check_report_lines_total{{{labels}}}") == str(n) else None

        got = until(line_served)
        if n == 1:
            first_ms = (time.monotonic() - start) * 1000
    # node_exporter serves the labels in the order of their names.
    want = {f"dio_check_failing_report_lines_total{{{labels}}}": "2",
            f'dio_check_input_wrong_total{{di="5",{labels}}}': "2",
            f'dio_check_input_wrong_total{{di="4",{labels}}}': "0",
            f'dio_check_input_ok{{di="5",{labels}}}': "0",
            f'dio_check_input_ok{{di="4",{labels}}}': "1"}
    assert all(got.get(k) == v for k, v in want.items()), {k: got.get(k) for k in want}
    stamp = float(got[f"dio_check_last_report_line_timestamp_seconds{{{labels}}}"])
    assert abs(stamp - time.time()) < 60, stamp
    check.stdin.close()
    assert check.wait(10) == 1
    assert os.listdir(folder) == ["jig.prom"], os.listdir(folder)

    for bad, reason in (([os.path.join(folder, "jig.txt")], "ending in .prom"),
                        ([prom, "--metrics-label", "3x=1"], "is not a label name"),
                        ([prom, "--metrics-label", "di=1"], "of dio-check's own")):
        r = subprocess.run(tool + ["--metrics"] + bad, stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=10)
        assert r.returncode == 2 and reason in r.stderr, (bad, r.returncode, r.stderr)
    print(f"node_exporter served the first line {first_ms:.0f} ms after it was written")
finally:
    served.kill()
    served.wait()
PY
