#!/usr/bin/env python3
"""tsa_server.py DIR: an RFC 3161 time-stamping authority on the loopback interface,
answering with `openssl ts -reply` and the TSA key and config in DIR. Writes its
port to DIR/port and serves until killed."""
import http.server
import os
import subprocess
import sys

directory = sys.argv[1]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(
            ["openssl", "ts", "-reply", "-config", os.path.join(directory, "tsa.cnf"),
             "-queryfile", "/dev/stdin", "-out", "/dev/stdout"],
            input=query, capture_output=True, check=False)
        self.send_response(200 if reply.returncode == 0 else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, *arguments):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(os.path.join(directory, "port.new"), "w") as port:
    port.write(str(server.server_address[1]))
os.rename(os.path.join(directory, "port.new"), os.path.join(directory, "port"))
server.serve_forever()
