#!/usr/bin/env python3
"""A local chat webhook: prints every notice it receives and answers 200.

Usage: webhook_receiver.py PORT_FILE NOTICES_FILE [--host ADDRESS] [--hold]
It listens on ADDRESS (127.0.0.1 unless given; ::1 for IPv6) on a free port,
writes that port to PORT_FILE, and appends each request body, one per line,
to NOTICES_FILE. With --hold it records each body but never answers, as a
chat server that hangs would.
"""
import argparse
import http.server
import socket
import threading


class Hook(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        print(f"webhook got: POST {self.path}", flush=True)
        for name in ("Content-type", "User-Agent"):
            print(f"  {name}: {self.headers.get(name)}", flush=True)
        print("  body: " + body.decode("utf-8", "replace"), flush=True)
        with open(options.notices, "ab") as notices:
            notices.write(body + b"\n")
        if options.hold:
            threading.Event().wait()  # until the process ends
        self.send_response(200, "OK")
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"ok")

    def log_message(self, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


parser = argparse.ArgumentParser()
parser.add_argument("port_file")
parser.add_argument("notices")
parser.add_argument("--host", default="127.0.0.1")
parser.add_argument("--hold", action="store_true")
options = parser.parse_args()

if ":" in options.host:
    Server.address_family = socket.AF_INET6
server = Server((options.host, 0), Hook)
with open(options.port_file, "w") as port_file:
    port_file.write(str(server.server_address[1]))
server.serve_forever()
