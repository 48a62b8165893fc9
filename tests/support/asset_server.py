#!/usr/bin/env python3
"""A small HTTP server for the asset tests: serves the files of one directory on 127.0.0.1,
answers byte ranges, and misbehaves on request.

The first path component picks the behaviour, the rest names the file:
  /ok/<file>            the file (206 for a Range request, 416 past its end)
  /404/<file>, /500/<file>
  /drop-once/<file>     the first request for it sends half the body, then hangs up
  /stall/<file>         sends the first KiB of the body, then nothing for a minute
  /slow/<file>          sends about 4 MiB a second
  /trickle/<file>       sends 64 bytes every quarter of a second (256 bytes a second)
  /no-range/<file>      ignores Range and always sends the whole file
  /chunked/<file>       chunked transfer coding, so no Content-Length is announced
  /redirect/<file>      302 to /ok/<file>
  /redirect-ftp/<file>  302 to an ftp:// URL

With --tls PEM it speaks https with the certificate and key in PEM, which no client trusts
(asset_server_untrusted.pem is self-signed for 127.0.0.1).

Prints the port on standard output once listening. Each request is logged to --log as one line
"<path>\t<Range header or ->".
"""

import argparse
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time

CHUNK = 64 * 1024
TRICKLE = 64


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # keep the test output clean
        pass

    def do_GET(self):
        server = self.server
        with server.log_lock:
            with open(server.log_path, "a") as log:
                log.write(f"{self.path}\t{self.headers.get('Range') or '-'}\n")
        parts = self.path.lstrip("/").split("/", 1)
        if len(parts) != 2:
            return self.status(404)
        fault, name = parts
        if fault == "404":
            return self.status(404)
        if fault == "500":
            return self.status(500)
        if fault == "redirect":
            return self.redirect(f"/ok/{name}")
        if fault == "redirect-ftp":
            return self.redirect(f"ftp://127.0.0.1:{server.server_address[1]}/{name}")
        path = os.path.join(server.root, os.path.basename(name))
        if not os.path.isfile(path):
            return self.status(404)
        with open(path, "rb") as f:
            data = f.read()
        if fault == "chunked":
            return self.send_chunked(data)

        start = 0
        ranged = self.headers.get("Range")
        if ranged and fault != "no-range":
            start = int(ranged.split("=", 1)[1].split("-", 1)[0])
            if start >= len(data):
                self.send_response(416)
                self.send_header("Content-Range", f"bytes */{len(data)}")
                self.send_header("Content-Length", "0")
                self.send_header("Connection", "close")
                self.end_headers()
                return
            self.send_response(206)
            self.send_header("Content-Range", f"bytes {start}-{len(data) - 1}/{len(data)}")
        else:
            self.send_response(200)
        body = data[start:]
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()

        if fault == "drop-once":
            with server.log_lock:
                first = self.path not in server.dropped
                server.dropped.add(self.path)
            if first:
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                self.close_connection = True
                return
        if fault == "stall":
            self.wfile.write(body[:1024])
            self.wfile.flush()
            time.sleep(60)
            return
        if fault == "trickle":
            for offset in range(0, len(body), TRICKLE):
                self.wfile.write(body[offset:offset + TRICKLE])
                self.wfile.flush()
                time.sleep(0.25)
            return
        for offset in range(0, len(body), CHUNK):
            self.wfile.write(body[offset:offset + CHUNK])
            if fault == "slow":
                self.wfile.flush()
                time.sleep(CHUNK / (4 * 1024 * 1024))

    def status(self, code):
        self.send_response(code)
        self.send_header("Content-Length", "0")
        self.send_header("Connection", "close")
        self.end_headers()

    def redirect(self, location):
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.send_header("Connection", "close")
        self.end_headers()

    def send_chunked(self, data):
        self.send_response(200)
        self.send_header("Transfer-Encoding", "chunked")
        self.send_header("Connection", "close")
        self.end_headers()
        for offset in range(0, len(data), CHUNK):
            piece = data[offset:offset + CHUNK]
            self.wfile.write(f"{len(piece):x}\r\n".encode() + piece + b"\r\n")
        self.wfile.write(b"0\r\n\r\n")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):  # clients hanging up are expected
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--tls")
    args = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.root = args.root
    server.log_path = args.log
    server.log_lock = threading.Lock()
    server.dropped = set()
    open(args.log, "w").close()
    sys.stdout.write(f"{server.server_address[1]}\n")
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
