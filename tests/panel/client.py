"""What the panel's tests share: starting dio-panel and reading its URL,
and raw HTTP requests written byte by byte, so that every header is the
test's own choice."""
import re
import subprocess


class Panel:
    """dio-panel started with @command, listening on a port it picks."""

    def __init__(self, command, env=None, token=None, listen="127.0.0.1:0"):
        args = list(command) + ["--listen", listen]
        if token:
            args += ["--token", token]
        self.process = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True)
        self.listen = listen
        line = self.process.stdout.readline()
        found = re.fullmatch(r"dio-panel: open http://127\.0\.0\.1:(\d+)/#token=(.*)\r?\n", line)
        if not found:
            self.process.kill()
            raise AssertionError("dio-panel printed %r, then %r"
                                 % (line, self.process.stderr.read()))
        self.port = int(found.group(1))
        self.token = found.group(2)
        self.host = "127.0.0.1:%d" % self.port
        self.origin = "http://" + self.host

    def build(self, method="POST", path="/command", body='{"line":4,"value":1}', drop=(),
              **given):
        """A request as the page sends it, with @given headers replaced
        (Content_Type for Content-Type) and @drop ones left out."""
        headers = {"Host": self.host, "Origin": self.origin,
                   "Authorization": "Bearer " + self.token, "Content-Type": "application/json"}
        headers.update({k.replace("_", "-"): v for k, v in given.items()})
        for name in drop:
            headers.pop(name, None)
        data = body.encode()
        text = "%s %s HTTP/1.1\r\n" % (method, path)
        for k, v in headers.items():
            text += "%s: %s\r\n" % (k, v)
        if method == "POST" or data:
            text += "Content-Length: %d\r\n" % len(data)
        return text.encode() + b"Connection: close\r\n\r\n" + data

    def request(self, raw, timeout=5):
        """Sends @raw; returns the answer's (status, headers, body), status
        0 where none came."""
        import socket
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as s:
            s.sendall(raw)
            data = b""
            while True:
                try:
                    chunk = s.recv(65536)
                except ConnectionResetError:
                    break
                if not chunk:
                    break
                data += chunk
                head, _, body = data.partition(b"\r\n\r\n")
                length = re.search(rb"(?i)\r\ncontent-length: *(\d+)", head)
                if length and len(body) >= int(length.group(1)):
                    break
        head, _, body = data.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        status = int(lines[0].split()[1]) if lines[0].startswith("HTTP/1.1 ") else 0
        headers = {k.lower(): v.strip() for k, _, v in (l.partition(":") for l in lines[1:])}
        return status, headers, body.decode("latin-1")

    def end(self, sig, seconds=10):
        """Sends @sig; returns the exit status (None if it did not end) and
        what it wrote on standard error."""
        self.process.send_signal(sig)
        try:
            status = self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            status = None
        return status, self.process.stderr.read()
