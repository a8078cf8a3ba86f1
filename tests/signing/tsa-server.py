#!/usr/bin/env python3
"""tsa-server.py CONFIG: a throw-away RFC 3161 time-stamp server on 127.0.0.1,
for the signing suite. Each POSTed time-stamp query is answered by
`openssl ts -reply` with CONFIG (run in CONFIG's folder). Prints the port it
listens on, then serves until it is killed."""
import http.server
import os
import subprocess
import sys
import tempfile

CONFIG = os.path.abspath(sys.argv[1])


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with tempfile.TemporaryDirectory() as work:
            query_file, reply_file = os.path.join(work, "query"), os.path.join(work, "reply")
            with open(query_file, "wb") as file:
                file.write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", CONFIG, "-queryfile", query_file,
                                   "-out", reply_file], cwd=os.path.dirname(CONFIG), capture_output=True, timeout=30)
            if done.returncode != 0:
                sys.stderr.write(done.stderr.decode(errors="replace"))
                self.send_error(500)
                return
            with open(reply_file, "rb") as file:
                reply = file.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampHandler)
print(server.server_address[1], flush=True)
server.serve_forever()
