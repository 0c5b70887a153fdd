#!/usr/bin/python3
"""Who may drive dio-panel: one table of raw requests, each refused with
nothing driven, as the scripted board library's call log shows; then the
live connection, the bounds, and the end.

Usage: security_test.py DIO_PANEL FAKE_BOARD_DIR
"""
import base64
import json
import os
import re
import signal
import socket
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client import Panel  # noqa: E402

panel_path, fake_dir = sys.argv[1], sys.argv[2]
TOKEN = "t0ken-of-the-test-0123456789"
work = tempfile.mkdtemp()
record = os.path.join(work, "calls.log")
env = dict(os.environ, LD_LIBRARY_PATH=fake_dir, FAKEBOARD_RECORD=record,
           FAKEBOARD_LOOPBACK="1", FAKEBOARD_CYCLES="1000000",
           # A sanitized build would otherwise hold freed memory back, and
           # seem to grow with each page.
           ASAN_OPTIONS=(os.environ.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=0").lstrip(":"))
panel = Panel([panel_path, "--outputs", "ffff"], env, TOKEN)
PORT, HOST, ORIGIN = panel.port, panel.host, panel.origin
build, request = panel.build, panel.request
failures = []


def writes():
    """The words written so far, from the call log."""
    with open(record) as f:
        return [l.split()[2] for l in f if l.startswith("do ")]


UPGRADE = dict(method="GET", path="/live", body="", drop=("Authorization", "Content-Type"),
               Upgrade="websocket", Connection="Upgrade", Sec_WebSocket_Version="13",
               Sec_WebSocket_Key=base64.b64encode(os.urandom(16)).decode())

ROWS = [
    ("no token", build(drop=("Authorization",)), 401),
    ("an empty token", build(Authorization="Bearer "), 401),
    ("a token not given as a bearer", build(Authorization="Basic " + TOKEN), 401),
    ("the token in the query", build(path="/command?token=" + TOKEN, drop=("Authorization",)), 401),
    ("a wrong token of the same length", build(Authorization="Bearer " + "x" * len(TOKEN)), 403),
    ("the token's first half", build(Authorization="Bearer " + TOKEN[:10]), 403),
    ("the token and more", build(Authorization="Bearer " + TOKEN + "0"), 403),
    ("reading the state without a token", build("GET", "/state", "", drop=("Authorization",)), 401),
    ("a foreign Host", build(Host="evil.example:%d" % PORT), 403),
    ("the right host on another port", build(Host="127.0.0.1:1"), 403),
    ("no Host", build(drop=("Host",)), 403),
    ("a foreign Origin", build(Origin="http://evil.example"), 403),
    ("an Origin of null", build(Origin="null"), 403),
    ("an https Origin", build(Origin="https://" + HOST), 403),
    ("no Origin nor Referer", build(drop=("Origin",)), 403),
    ("a foreign Referer", build(drop=("Origin",), Referer="http://evil.example/"), 403),
    ("a GET that would change state", build("GET", "/command?line=4&value=1", ""), 405),
    ("a GET of the state with a query", build("GET", "/state?word=ff", ""), 404),
    ("a PUT", build("PUT"), 405),
    ("a form body", build(body="line=4&value=1",
                          Content_Type="application/x-www-form-urlencoded"), 415),
    ("a plain-text body", build(Content_Type="text/plain"), 415),
    ("a multipart body", build(Content_Type="multipart/form-data; boundary=x"), 415),
    ("no Content-Type", build(drop=("Content-Type",)), 415),
    ("malformed JSON", build(body='{"line":4,'), 400),
    ("JSON that is not an object", build(body='[4,1]'), 400),
    ("an unknown field", build(body='{"line":4,"value":1,"pulse":1}'), 400),
    ("a line beyond 31", build(body='{"line":32,"value":1}'), 400),
    ("a negative line", build(body='{"line":-1,"value":1}'), 400),
    ("a line as text", build(body='{"line":"4","value":1}'), 400),
    ("a value of 2", build(body='{"line":4,"value":2}'), 400),
    ("a line without a value", build(body='{"line":4}'), 400),
    ("a word over 32 bits", build(body='{"word":"100000000"}'), 400),
    ("a word that is not hex", build(body='{"word":"0x10"}'), 400),
    ("a word and a line at once", build(body='{"word":"1","line":4,"value":1}'), 400),
    ("a word outside --outputs", build(body='{"word":"10000"}'), 400),
    ("a line outside --outputs", build(body='{"line":16,"value":1}'), 400),
    ("an unknown action", build(body='{"action":"pulse"}'), 400),
    ("a body over 8 KiB", build(body='{"word":"1","x":"%s"}' % ("a" * 9000)), 413),
    ("a header over 8 KiB", build(X_Padding="a" * 9000), 431),
    ("a live connection from a foreign Origin", build(**dict(UPGRADE, Origin="http://evil.example")), 403),
    ("a live connection with no Origin", build(**dict(UPGRADE, drop=UPGRADE["drop"] + ("Origin",))), 403),
    ("a live connection to a foreign Host", build(**dict(UPGRADE, Host="evil.example")), 403),
    ("a live connection elsewhere", build(**dict(UPGRADE, path="/ws")), 404),
]

time.sleep(0.2)
before = writes()
if before != ["0"]:
    failures.append("the panel should start with one write of 0, not %s" % before)
SECURE = (("content-security-policy", "default-src 'self'; frame-ancestors 'none'"),
          ("x-content-type-options", "nosniff"), ("cache-control", "no-store"),
          ("server", "dio-panel"))


def unsecured(name, headers):
    for header, value in SECURE:
        if headers.get(header) != value:
            failures.append("%s: %s is %r" % (name, header, headers.get(header)))


for name, raw, expected in ROWS:
    status, headers, body = request(raw)
    if status != expected:
        failures.append("%s: %d, not %d (%s)" % (name, status, expected, body[:80]))
    if '"do"' in body or '"di"' in body:
        failures.append("%s: the answer shows the board: %s" % (name, body[:80]))
    unsecured(name, headers)
    if any(h.startswith("access-control-") for h in headers):
        failures.append("%s: sends CORS headers" % name)
time.sleep(0.2)
if writes() != before:
    failures.append("the refused requests drove the board: %s" % writes()[len(before):])

# The page itself carries no secret.
status, headers, page = request(build("GET", "/", "", drop=("Authorization", "Origin")))
script = request(build("GET", "/panel.js", "", drop=("Authorization", "Origin")))[2]
if status != 200 or TOKEN in page or TOKEN in script:
    failures.append("the page: %d, or the token in it" % status)


class Live:
    """A live connection, as the page opens it."""

    def __init__(self):
        self.s = socket.create_connection(("127.0.0.1", PORT), timeout=5)
        self.s.sendall(build(**dict(UPGRADE, Connection="Upgrade")).replace(
            b"Connection: close\r\n", b""))
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.s.recv(1)
            if not chunk:
                raise AssertionError("the live connection closed during its upgrade")
            head += chunk
        assert head.startswith(b"HTTP/1.1 101"), head
        lines = head.decode("latin-1").split("\r\n")[1:]
        unsecured("the live upgrade", dict((k.strip().lower(), v.strip()) for k, _, v in
                                           (line.partition(":") for line in lines if line)))

    def send(self, text):
        data = text.encode()
        mask = os.urandom(4)
        size = len(data)
        head = bytes([0x81]) + (bytes([0x80 | size]) if size < 126
                                else bytes([0x80 | 126]) + struct.pack(">H", size))
        self.s.sendall(head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))

    def receive(self):
        """(opcode, payload) of the next frame; (None, b"") at the end."""
        def exactly(n):
            data = b""
            while len(data) < n:
                chunk = self.s.recv(n - len(data))
                if not chunk:
                    raise EOFError
                data += chunk
            return data
        try:
            first, second = exactly(2)
            size = second & 0x7F
            if size == 126:
                size = struct.unpack(">H", exactly(2))[0]
            elif size == 127:
                size = struct.unpack(">Q", exactly(8))[0]
            return first & 0x0F, exactly(size)
        except (EOFError, ConnectionResetError):
            return None, b""

    def close(self):
        self.s.close()


def live_refused(name, message):
    live = Live()
    if message is not None:
        live.send(message)
    started = time.monotonic()
    opcode, payload = live.receive()
    live.close()
    if opcode not in (None, 8):
        failures.append("%s: the live connection answered %r" % (name, payload[:80]))
    if time.monotonic() - started > 3.5:
        failures.append("%s: the live connection stayed open" % name)


live_refused("a live connection with a wrong token", json.dumps({"token": "y" * len(TOKEN)}))
live_refused("a live connection that says nothing for 2 s", None)
live_refused("a live connection that sends a command first", '{"line":4,"value":1}')
if writes() != before:
    failures.append("the refused live connections drove the board: %s" % writes()[len(before):])

# What the page does is let through: the live connection, then a call.
live = Live()
live.send(json.dumps({"token": TOKEN}))
opcode, payload = live.receive()
if opcode != 1 or json.loads(payload).get("type") != "state":
    failures.append("the live connection with the token got %r" % payload[:80])
live.send('{"line":4,"value":1}')
status, _, body = request(build(body='{"line":5,"value":1}'))
if status != 202:
    failures.append("the page's own call: %d %s" % (status, body))
deadline = time.monotonic() + 2
while writes()[-1:] != ["30"] and time.monotonic() < deadline:
    time.sleep(0.02)
if writes()[len(before):] != ["10", "30"]:
    failures.append("two commands should write 10 then 30, not %s" % writes()[len(before):])
live.close()

# Pages coming and going leave memory as it was.
def rss_kb():
    with open("/proc/%d/status" % panel.process.pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


for rounds in range(2):
    if rounds == 1:
        start_kb = rss_kb()
    for _ in range(150):
        live = Live()
        live.send(json.dumps({"token": TOKEN}))
        live.receive()
        live.close()
grown = rss_kb() - start_kb
if grown > 2048:
    failures.append("150 pages coming and going grew memory by %d KiB" % grown)

# A hundred connections held by someone else, half of them mid-request:
# a new page is still served, and still drives, within 5 s.
held = []
for i in range(100):
    s = socket.create_connection(("127.0.0.1", PORT), timeout=5)
    if i % 2:
        s.sendall(b"POST /command HTTP/1.1\r\nHost: " + HOST.encode() + b"\r\nContent-Le")
    held.append(s)
started = time.monotonic()
status = request(build("GET", "/", "", drop=("Authorization",)))[0]
driven = request(build(body='{"line":6,"value":1}'))[0]
while writes()[-1:] != ["70"] and time.monotonic() < started + 5:
    time.sleep(0.02)
took = time.monotonic() - started
if status != 200 or driven != 202 or writes()[-1:] != ["70"] or took > 5:
    failures.append("beside 100 held connections: page %d, call %d, %s written, in %.1f s"
                    % (status, driven, writes()[-1:], took))
time.sleep(2.5)
still_open = 0
for s in held:
    s.settimeout(0.2)
    try:
        still_open += s.recv(1) != b""
    except socket.timeout:
        still_open += 1
    except ConnectionResetError:
        pass
    s.close()
if still_open:
    failures.append("%d connections with no whole request were open after 2.5 s" % still_open)

# The end: the outputs written low, then 128 + SIGTERM.
status, errors = panel.end(signal.SIGTERM)
if status != 128 + signal.SIGTERM or writes()[-1:] != ["0"] or errors:
    failures.append("at SIGTERM: status %s, last write %s, stderr %r"
                    % (status, writes()[-1:], errors))

# Listening on every address: reached by any IP address of the machine,
# never by a name but localhost; and a write the board refuses is shown,
# with the outputs as last written.
env["FAKEBOARD_FAIL_DO"] = "2"
wide = Panel([panel_path], env, TOKEN, listen="0.0.0.0:0")
for host, expected in (("10.1.2.3:%d" % wide.port, 202), ("[fe80::1]:%d" % wide.port, 202),
                       ("station:%d" % wide.port, 403), ("10.1.2.3:%d" % (wide.port + 1), 403)):
    status = wide.request(wide.build(Host=host, Origin="http://" + host))[0]
    if status != expected:
        failures.append("listening on 0.0.0.0, Host %s: %d, not %d" % (host, status, expected))
    if host.startswith("10.") and expected == 202:
        # That first command was the board's second write, which it refused.
        time.sleep(0.1)
        state = json.loads(wide.request(wide.build("GET", "/state", ""))[2])
        if (state["do"], state["errors"]) != ("0", 1) or \
                "failed (Kestor_DOAll gave -5)" not in state["error"]:
            failures.append("after a refused write the state is %s" % state)
status, errors = wide.end(signal.SIGTERM)
if status != 128 + signal.SIGTERM or "warning: listening on 0.0.0.0" not in errors:
    failures.append("listening on 0.0.0.0: status %s, stderr %r" % (status, errors))

for f in failures:
    print("FAILED: " + f)
print("%d rows and checks, %d failures" % (len(ROWS) + 14, len(failures)))
sys.exit(1 if failures else 0)
