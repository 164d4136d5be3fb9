#!/usr/bin/python3
# An HTTPS server for MTA-STS policies in the tests: GET
# /.well-known/mta-sts.txt answers the text of FILE as text/plain (a text
# "redirect: URL" answers 301 to that URL instead, and "stall" nothing for
# a minute); any other path 404. Every request's path is appended to DIR/requests.txt. When it
# listens, the file "ready" (holding its process id) appears in DIR.
# Usage: policy_https.py PORT CERT KEY FILE DIR
import http.server
import os
import ssl
import sys
import time

port, cert, key, policy, root = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]


class Policy(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(os.path.join(root, "requests.txt"), "a") as f:
            f.write(self.path + "\n")
        if self.path != "/.well-known/mta-sts.txt":
            self.send_error(404)
            return
        with open(policy, "rb") as f:
            body = f.read()
        if body == b"stall":
            time.sleep(60)
            return
        if body.startswith(b"redirect: "):
            self.send_response(301)
            self.send_header("Location", body[10:].decode().strip())
            self.end_headers()
            return
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", port), Policy)
context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(os.path.join(root, "ready"), "w") as f:
    f.write(str(os.getpid()))
server.serve_forever()
