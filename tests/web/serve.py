#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1 for the browser test and the measurements.

    python3 serve.py FOLDER [--isolated]

Listens on a free port of the loopback address and prints "port N" once it
listens. --isolated adds the two headers that make a page cross-origin
isolated, in which the browser's clock reads to 5 microseconds instead of 100
(for timing single frames); the page itself needs neither.
"""
import functools
import http.server
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    isolated = False

    def end_headers(self):
        if self.isolated:
            self.send_header("Cross-Origin-Opener-Policy", "same-origin")
            self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        super().end_headers()

    def log_message(self, format, *args):
        pass


def main():
    if len(sys.argv) not in (2, 3) or (len(sys.argv) == 3 and sys.argv[2] != "--isolated"):
        sys.exit("usage: serve.py FOLDER [--isolated]")
    Handler.isolated = len(sys.argv) == 3
    handler = functools.partial(Handler, directory=sys.argv[1])
    with http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler) as server:
        print(f"port {server.server_address[1]}", flush=True)
        server.serve_forever()


if __name__ == "__main__":
    main()
