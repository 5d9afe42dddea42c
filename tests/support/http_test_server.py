#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""HTTP(S) server on loopback for the transfer tests.

Prints "listening on 127.0.0.1:PORT" once it accepts connections and, with
--log, appends "METHOD PATH" for every request it receives.
Routes: /hello, /missing (404 with a body), /stall (answers after 30 s),
/slow (after 1 s), /chunked?n=BYTES, /truncated (promises 1000 bytes, sends
10), /binary (bytes 0 to 255), /agent (the User-Agent header or <none>),
/echo (the request body back).
"""
import argparse
import http.server
import ssl
import sys
import time
import urllib.parse


def pattern(count):
    return bytes(i % 251 for i in range(count))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *values):
        pass

    def _record(self):
        if self.server.log_path:
            with open(self.server.log_path, "a") as log:
                log.write("%s %s\n" % (self.command, self.path))

    def _answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def _route(self, request_body):
        self._record()
        url = urllib.parse.urlparse(self.path)
        query = urllib.parse.parse_qs(url.query)
        if url.path == "/hello":
            self._answer(200, b"hello body\n")
        elif url.path == "/missing":
            self._answer(404, b"no such page\n")
        elif url.path == "/stall":
            time.sleep(30)
            self._answer(200, b"late\n")
        elif url.path == "/slow":
            time.sleep(1)
            self._answer(200, b"slow body\n")
        elif url.path == "/chunked":
            count = int(query.get("n", ["0"])[0])
            data = pattern(count)
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            offset, step = 0, 1
            while offset < count:
                piece = data[offset:offset + step]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                offset += len(piece)
                step = step * 3 % 70001 + 1
            self.wfile.write(b"0\r\n\r\n")
        elif url.path == "/truncated":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            self.close_connection = True
        elif url.path == "/binary":
            self._answer(200, bytes(range(256)))
        elif url.path == "/agent":
            self._answer(200, (self.headers.get("User-Agent") or "<none>").encode())
        elif url.path == "/echo":
            self._answer(200, request_body)
        else:
            self._answer(404, b"unknown\n")

    def do_GET(self):
        self._route(b"")

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        self._route(self.rfile.read(length) if length > 0 else b"")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--log")
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.log_path = args.log
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("listening on 127.0.0.1:%d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
