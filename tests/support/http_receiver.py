#!/usr/bin/python3
"""A web hook receiver for tests: records every request it gets and answers
as its control files say.

usage: http_receiver.py --bind ADDR --port N --dir DIR [--tls-cert FILE --tls-key FILE]

  --port 0 takes any free port. Once it listens, the port is in DIR/port.
  Each request goes to DIR/requests/NNNN.json (numbered from 0001, on after
  the ones already there) as {"method", "path", "headers": [[name, value]...],
  "body", "body_encoding": "utf-8" | "base64"}; each file is written under a
  temporary name and renamed, so a reader never sees half of one.

  Read before each answer (so a test may change them between requests):
    DIR/status    the status to answer (default 200)
    DIR/delay_ms  how long to wait first (the request is recorded before)
    DIR/location  a Location header, as bytes
    DIR/reason    the reason phrase, as bytes (default: the usual one)
    DIR/answer_bytes  the size of the answer body (default: "ok" and a newline)
  Header values and the reason go out byte for byte, so a test can play a
  hostile server.

  SIGTERM ends it.
"""

import argparse
import base64
import http.server
import json
import os
import signal
import socket
import ssl
import sys
import threading
import time


def read_control(directory, name):
    try:
        with open(os.path.join(directory, name), "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def write_atomically(path, data):
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.rename(temporary, path)


class Recorder:
    def __init__(self, directory):
        self.directory = os.path.join(directory, "requests")
        os.makedirs(self.directory, exist_ok=True)
        self.lock = threading.Lock()
        numbers = [int(name[:-5]) for name in os.listdir(self.directory)
                   if name.endswith(".json") and name[:-5].isdigit()]
        self.next = max(numbers, default=0) + 1

    def record(self, entry):
        with self.lock:
            number = self.next
            self.next += 1
            path = os.path.join(self.directory, "%04d.json" % number)
            write_atomically(path, json.dumps(entry, ensure_ascii=True).encode("ascii"))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "kd-test-receiver"

    def log_message(self, format, *args):
        pass  # the test reads the recorded requests, not a log

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip(), 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0") or "0")
        return self.rfile.read(length) if length > 0 else b""

    def handle_any(self):
        directory = self.server.control_dir
        body = self.read_body()
        try:
            text, encoding = body.decode("utf-8"), "utf-8"
        except UnicodeDecodeError:
            text, encoding = base64.b64encode(body).decode("ascii"), "base64"
        self.server.recorder.record({
            "method": self.command,
            "path": self.path,
            "headers": [[name, value] for name, value in self.headers.items()],
            "body": text,
            "body_encoding": encoding,
        })

        delay = read_control(directory, "delay_ms")
        if delay and int(delay.strip() or b"0") > 0:
            time.sleep(int(delay.strip()) / 1000.0)
        status = read_control(directory, "status")
        status = int(status.strip()) if status and status.strip() else 200
        reason = read_control(directory, "reason")
        location = read_control(directory, "location")
        size = read_control(directory, "answer_bytes")
        answer = b"x" * int(size.strip()) if size and size.strip() else b"ok\n"
        if status < 200 or status in (204, 304):
            answer = b""  # these have no body
        # Bytes go out as they are: latin-1 maps each byte to itself.
        self.send_response(status, reason.decode("latin-1") if reason is not None else None)
        if location is not None:
            self.send_header("Location", location.decode("latin-1"))
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(answer)

    do_POST = do_GET = do_PUT = do_PATCH = do_DELETE = do_HEAD = handle_any


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, directory, context):
        self.address_family = socket.AF_INET6 if ":" in address[0] else socket.AF_INET
        super().__init__(address, Handler)
        self.control_dir = directory
        self.recorder = Recorder(directory)
        if context is not None:
            self.socket = context.wrap_socket(self.socket, server_side=True)

    def handle_error(self, request, client_address):
        # A client that hangs up early (a time-out, a refused certificate) is
        # part of what the tests do, not an error of the receiver.
        if isinstance(sys.exc_info()[1], (ConnectionError, ssl.SSLError, TimeoutError)):
            return
        super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    options = parser.parse_args()

    def stop(signum, frame):
        raise SystemExit(0)
    signal.signal(signal.SIGTERM, stop)

    context = None
    if options.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.tls_cert, options.tls_key)
    server = Server((options.bind, options.port), options.dir, context)
    write_atomically(os.path.join(options.dir, "port"),
                     str(server.server_address[1]).encode("ascii"))
    try:
        server.serve_forever(poll_interval=0.1)
    finally:
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
