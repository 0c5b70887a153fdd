#!/usr/bin/python3
"""dio-panel.exe under wine, beside the stand-in Vornel.dll: it serves the
page, and a client drives a switch through it on the simulated board.

Usage: wine_test.py <wine command>... <dio-panel.exe>
"""
import json
import os
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client import Panel  # noqa: E402

panel = Panel(sys.argv[1:])
try:
    status, headers, page = panel.request(panel.build("GET", "/", "", drop=("Authorization",)))
    assert status == 200 and 'src="panel.js"' in page, (status, page[:200])
    assert headers.get("content-security-policy", "").startswith("default-src 'self'"), headers
    status, _, body = panel.request(panel.build(body='{"line":7,"value":1}'))
    assert status == 202, (status, body)
    deadline = time.monotonic() + 10
    state = {}
    while time.monotonic() < deadline:
        status, _, body = panel.request(panel.build("GET", "/state", "", drop=("Content-Type",)))
        state = json.loads(body) if status == 200 else {}
        if state.get("do") == "80" and state.get("di") == "80":
            break
        time.sleep(0.1)
    assert state.get("do") == "80" and state.get("di") == "80", state
finally:
    panel.end(signal.SIGTERM)
print("passed: served the page, and DO 7 drove DI 7 on the simulated board")
