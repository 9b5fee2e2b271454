#!/usr/bin/env python3
"""An HTTP server and CONNECT proxy for the network tests, on 127.0.0.1 only.

Prints "PORT n" once it listens (port 0: a free one). One process plays both parts:

- requests for a path ("GET /x HTTP/1.0") get the scripted answers below, each showing one
  way a server can answer (or misbehave);
- requests for an absolute URL ("GET http://127.0.0.1:n/x HTTP/1.0") are proxied to that
  server, and CONNECT opens a tunnel. Both go to 127.0.0.1 only. With --auth USER:PASS the
  proxy wants those credentials and answers 407 without them.

Slow servers take their pace from the path, so that a test can put one in front of any path
the program asks for (a base address such as http://127.0.0.1:n/drip/0.2):

- /drip/GAP/... answers 200 with a body of 100000 bytes, one byte every GAP seconds;
- /drip-head/GAP/... sends its head one byte every GAP seconds and never ends it;
- /stall/N/... sends the head and N bytes of a body of ten million, then nothing.

Each stops once the client has gone.

The proxy keeps what it was sent: GET /proxy-log lists every proxied head, each followed by
a line "----", with "tunnel-first-byte N" after a tunnel's head once the client has spoken.
"""

import argparse
import base64
import select
import socket
import sys
import threading
import time
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

LOCK = threading.Lock()
PROXY_LOG = []
HITS = {}
CONNECTION_IDS = {}
AUTH = None


def pattern(size):
    return bytes((i * 7 + 3) & 0xFF for i in range(size))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    # ---- helpers -------------------------------------------------------------------------

    def raw(self, data):
        self.wfile.write(data)
        self.wfile.flush()

    def answer(self, code, body=b"", headers=(), version="HTTP/1.0"):
        head = "%s %d Status\r\n" % (version, code)
        for name, value in headers:
            head += "%s: %s\r\n" % (name, value)
        head += "Content-Length: %d\r\n\r\n" % len(body)
        self.raw(head.encode("latin-1") + body)

    def client_gone(self, seconds):
        """Waits up to seconds; True once the client has closed its side."""
        ready, _, _ = select.select([self.connection], [], [], seconds)
        if not ready:
            return False
        try:
            return not self.connection.recv(1, socket.MSG_PEEK)
        except OSError:
            return True

    def drip(self, data, gap):
        """Sends data one byte every gap seconds until it is sent or the client has gone."""
        for i in range(len(data)):
            try:
                self.raw(data[i:i + 1])
            except OSError:
                return
            if self.client_gone(gap):
                return

    def slow_prefix(self, path):
        """The answers of /drip/, /drip-head/ and /stall/; False for any other path."""
        parts = path.split("/")
        if len(parts) < 3 or parts[1] not in ("drip", "drip-head", "stall"):
            return False
        kind, value = parts[1], float(parts[2])
        if kind == "drip":
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n")
            self.drip(pattern(100000), value)
        elif kind == "drip-head":
            self.drip(b"HTTP/1.0 200 OK\r\nX-Slow: " + b"s" * 100000, value)
        else:
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: 10000000\r\n\r\n" + pattern(int(value)))
            self.client_gone(3600)
        return True

    def request_head(self):
        return (self.requestline + "\r\n" + str(self.headers).replace("\n", "\r\n")).encode("latin-1", "replace")

    def connection_id(self):
        with LOCK:
            key = id(self.connection)
            if key not in CONNECTION_IDS:
                CONNECTION_IDS[key] = len(CONNECTION_IDS) + 1
            return CONNECTION_IDS[key]

    def proxy_allowed(self):
        if AUTH is None:
            return True
        given = self.headers.get("Proxy-Authorization", "")
        if given == "Basic " + base64.b64encode(AUTH.encode()).decode():
            return True
        self.answer(407, b"credentials wanted", [("Proxy-Authenticate", 'Basic realm="test"')])
        return False

    def log_proxied(self, extra=""):
        with LOCK:
            PROXY_LOG.append(self.request_head().decode("latin-1") + extra)

    # ---- proxy ----------------------------------------------------------------------------

    def do_CONNECT(self):
        self.log_proxied()
        host, _, port = self.path.rpartition(":")
        if host != "127.0.0.1" or not port.isdigit():
            self.answer(403, b"only 127.0.0.1")
            return
        if not self.proxy_allowed():
            return
        upstream = socket.create_connection(("127.0.0.1", int(port)), timeout=10)
        self.raw(b"HTTP/1.1 200 Connection established\r\n\r\n")
        client = self.connection
        first = True
        try:
            while True:
                ready, _, _ = select.select([client, upstream], [], [], 30)
                if not ready:
                    break
                for side in ready:
                    data = side.recv(65536)
                    if not data:
                        return
                    if side is client and first:
                        first = False
                        with LOCK:
                            PROXY_LOG[-1] += "tunnel-first-byte %d\r\n" % data[0]
                    (upstream if side is client else client).sendall(data)
        finally:
            upstream.close()

    def forward(self):
        self.log_proxied()
        target = urlsplit(self.path)
        if target.hostname != "127.0.0.1":
            self.answer(403, b"only 127.0.0.1")
            return
        if not self.proxy_allowed():
            return
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length else b""
        path = target.path or "/"
        if target.query:
            path += "?" + target.query
        head = "%s %s HTTP/1.0\r\n" % (self.command, path)
        for name, value in self.headers.items():
            if name.lower() not in ("proxy-authorization", "proxy-connection", "connection"):
                head += "%s: %s\r\n" % (name, value)
        upstream = socket.create_connection(("127.0.0.1", target.port or 80), timeout=10)
        try:
            upstream.sendall(head.encode("latin-1") + b"\r\n" + body)
            while True:
                data = upstream.recv(65536)
                if not data:
                    break
                self.raw(data)
        finally:
            upstream.close()

    # ---- scripted answers --------------------------------------------------------------

    def do_GET(self):
        if self.path.startswith("http://"):
            self.forward()
            return
        self.script()

    def do_HEAD(self):
        self.script()

    def do_POST(self):
        if self.path.startswith("http://"):
            self.forward()
            return
        self.script()

    def script(self):
        url = urlsplit(self.path)
        path = url.path
        query = parse_qs(url.query)
        with LOCK:
            HITS[path] = HITS.get(path, 0) + 1
        if self.slow_prefix(path):
            return
        if path == "/echo":
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length) if length else b""
            self.answer(200, self.request_head() + b"\r\n" + body)
        elif path.startswith("/hits/"):
            with LOCK:
                count = HITS.get(path[len("/hits"):], 0)
            self.answer(200, str(count).encode())
        elif path == "/proxy-log":
            with LOCK:
                text = "".join(entry + "----\r\n" for entry in PROXY_LOG)
            self.answer(200, text.encode("latin-1"))
        elif path == "/pattern":
            self.answer(200, pattern(int(query.get("n", ["1000"])[0])), [("Content-Type", "application/x-test")])
        elif path == "/status":
            self.answer(int(query["code"][0]), b"status body")
        elif path == "/redirect":
            code = int(query.get("code", ["302"])[0])
            headers = [("Location", query["to"][0])] if "to" in query else []
            self.answer(code, b"moved", headers)
        elif path == "/loop":
            self.answer(302, b"again", [("Location", "/loop")])
        elif path == "/chunked":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                     b"5;name=value\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")
        elif path == "/chunked-size":
            # The size line as the query gives it, then a five-byte chunk and the last one.
            line = query.get("line", [""])[0].encode("latin-1")
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n" + line +
                     b"\r\nhello\r\n0\r\n\r\n")
        elif path == "/chunked-empty":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n0\r\n\r\n")
        elif path == "/chunked-none":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n")
        elif path == "/continue":
            # Interim answers of several kinds before the real one.
            self.raw(b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n"
                     b"HTTP/1.1 103 Early Hints\r\nLink: </style.css>; rel=preload\r\n\r\n"
                     b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello")
        elif path == "/continue-chunked":
            self.raw(b"HTTP/1.1 100 Continue\r\n\r\n"
                     b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                     b"5\r\nhello\r\n0\r\n\r\n")
        elif path == "/continue-for-ever":
            try:
                for _ in range(100000):
                    self.raw(b"HTTP/1.1 100 Continue\r\n\r\n")
            except OSError:
                pass
        elif path == "/chunked-trailer":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                     b"3\r\nabc\r\n0\r\nX-Checksum: 1\r\n\r\n")
        elif path == "/chunked-cut":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n64\r\n" + b"x" * 50)
        elif path == "/chunked-no-crlf":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhelloXY0\r\n\r\n")
        elif path == "/chunked-huge":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFFFFFF\r\nx")
        elif path == "/chunked-long-line":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1" + b"0" * 300 + b"\r\n")
        elif path == "/chunked-endless-line":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;" + b"e" * 100000)
        elif path == "/cut":
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + b"y" * 500)
        elif path == "/slow":
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc")
            time.sleep(20)
        elif path == "/silent":
            time.sleep(20)
        elif path == "/until-close-10":
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + pattern(70000))
        elif path == "/until-close-11":
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n" + pattern(5000))
        elif path == "/big-head":
            self.raw(b"HTTP/1.0 200 OK\r\n" + b"X-Filler: " + b"f" * 70000 + b"\r\nContent-Length: 0\r\n\r\n")
        elif path == "/endless-head":
            self.raw(b"HTTP/1.0 200 OK\r\nX-Endless: " + b"e" * 200000)
        elif path == "/bad-length":
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: 12abc\r\n\r\n" + b"z" * 12)
        elif path == "/huge-length":
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nzz")
        elif path == "/two-lengths":
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\nabcde")
        elif path == "/gzip-encoding":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nConnection: close\r\n\r\nxx")
        elif path == "/not-http":
            self.raw(b"SSH-2.0-something\r\n\r\n")
        elif path == "/keep-alive":
            body = ("connection %d" % self.connection_id()).encode()
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
            self.close_connection = False
            return
        elif path == "/suggest":
            self.suggest()
        else:
            self.answer(404, b"no such script")

    def suggest(self):
        """The tag suggestion service: the field and match text come as header lines."""
        if self.headers.get("JQACTION") != "GetSuggestion" or self.headers.get("CLIENT-VERSION") != "100.0.0.0":
            self.answer(400, b"not a suggestion request")
            return
        field = self.headers.get("Suggestion", "")
        match = self.headers.get("SuggestionMatchOn", "")
        agent = self.headers.get("User-Agent", "")
        texts = {
            "Beat": "Beatles\r\nBeat Happening\r\n" + field + "\r\n" + agent,
            "Nobody": "(none)",
            "Umlaut": "Motörhead",
            "Split": "Abbey Road{_}Let It Be",
        }
        if match == "Refuse":
            self.answer(503, b"busy")
            return
        if match == "Slow":
            time.sleep(20)
            return
        if match == "Drip":
            self.drip(b"HTTP/1.0 200 OK\r\nCRCList: 1\r\nContent-Length: 100000\r\n\r\n" + b"d" * 100000, 0.1)
            return
        text = texts.get(match, match).encode("utf-8")
        crc = zlib.crc32(text)
        if match == "BadCRC":
            crc ^= 1
        body = text + b"\r\n"
        head = b"HTTP/1.0 200 OK\r\nCRCList: %d\r\nContent-Length: %d\r\n\r\n" % (crc, len(body))
        if match == "Short":
            self.raw(head + body[:-4])
            return
        self.raw(head + body)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--auth")
    args = parser.parse_args()
    global AUTH
    AUTH = args.auth
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
