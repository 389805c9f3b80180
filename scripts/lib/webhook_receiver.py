#!/usr/bin/env python3
"""A local chat webhook: prints every notice it receives and answers 200.

Usage: webhook_receiver.py PORT_FILE NOTICES_FILE
It listens on 127.0.0.1 on a free port, writes that port to PORT_FILE, and
appends each request body, one per line, to NOTICES_FILE.
"""
import http.server
import sys


class Hook(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        print(f"webhook got: POST {self.path}", flush=True)
        for name in ("Content-type", "User-Agent"):
            print(f"  {name}: {self.headers.get(name)}", flush=True)
        print("  body: " + body.decode("utf-8", "replace"), flush=True)
        with open(sys.argv[2], "ab") as notices:
            notices.write(body + b"\n")
        self.send_response(200, "OK")
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"ok")

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Hook)
with open(sys.argv[1], "w") as port_file:
    port_file.write(str(server.server_address[1]))
server.serve_forever()
