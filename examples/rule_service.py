#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A small demo rule service for zentix.

Answers every POST to the service path with the content of a whitelist
answer file, read afresh on every request, so a new whitelist is served by
replacing that file (or by pointing --whitelist at a file whose content is
changed). Python 3 standard library only.

    rule_service.py --port 8080 --whitelist examples/whitelist_v1.json

--port 0 picks a free port. Once the server listens it prints one line,
"listening on 127.0.0.1:PORT", to standard output (and writes the port
into --port-file when given), so a script can wait for it.
"""
import argparse
import http.server
import sys

SERVICE_PATH = "/utils/get_ks_cdn_wl"


def make_handler(args):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def _answer(self, status, body):
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_POST(self):
            length = int(self.headers.get("Content-Length") or 0)
            request = self.rfile.read(length) if length > 0 else b""
            if args.log:
                with open(args.log, "ab") as log:
                    log.write(self.path.encode() + b" " + request + b"\n")
            if self.path != args.path:
                self._answer(404, b'{"code":404,"data":null}')
                return
            try:
                with open(args.whitelist, "rb") as whitelist:
                    body = whitelist.read()
            except OSError as error:
                sys.stderr.write("rule_service: %s\n" % error)
                self._answer(500, b'{"code":500,"data":null}')
                return
            self._answer(200, body)

        def log_message(self, format, *values):
            if not args.quiet:
                super().log_message(format, *values)

    return Handler


def main():
    parser = argparse.ArgumentParser(description="Demo rule service for zentix.")
    parser.add_argument("--port", type=int, default=8080, help="TCP port, 0 for any free one")
    parser.add_argument("--bind", default="127.0.0.1", help="address to listen on")
    parser.add_argument("--whitelist", required=True,
                        help="answer document served, re-read on every request")
    parser.add_argument("--path", default=SERVICE_PATH, help="service path answered")
    parser.add_argument("--port-file", help="file that receives the port once listening")
    parser.add_argument("--log", help="file that receives one line per request: path, body")
    parser.add_argument("--quiet", action="store_true", help="no access log on stderr")
    args = parser.parse_args()

    server = http.server.ThreadingHTTPServer((args.bind, args.port), make_handler(args))
    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file, "w") as port_file:
            port_file.write("%d\n" % port)
    print("listening on %s:%d" % (args.bind, port), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
