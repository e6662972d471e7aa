#!/usr/bin/env python3
"""Loopback HTTP capture server for tests.

Listens on 127.0.0.1 (port 0 unless given), prints "listening on 127.0.0.1:PORT",
then one JSON line per request: method, path, query, headers (in order) and the
raw body in Base64. Answers with the scripted responses in order (a JSON list
of {"status": int, "headers": {name: value}, "body": text, "bodySize": int}); after the list the
last one repeats. "{origin}" in a body becomes the server's own origin. With a
certificate and its key as further arguments it speaks TLS (https). Ends when
its standard input closes.
"""
import base64
import http.server
import json
import ssl
import sys
import threading
import urllib.parse

script = json.loads(sys.argv[1]) if len(sys.argv) > 1 else [{"status": 200}]
lock = threading.Lock()
served = [0]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        url = urllib.parse.urlsplit(self.path)
        with lock:
            answer = script[min(served[0], len(script) - 1)]
            served[0] += 1
            record = {
                "method": self.command,
                "path": url.path,
                "query": url.query,
                "headers": [[k, v] for k, v in self.headers.items()],
                "body": base64.b64encode(body).decode("ascii"),
            }
            sys.stdout.write(json.dumps(record) + "\n")
            sys.stdout.flush()
        payload = answer.get("body", "").replace("{origin}", origin).encode("utf-8") or b"x" * answer.get("bodySize", 0)
        self.send_response(answer.get("status", 200))
        for name, value in answer.get("headers", {}).items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload)

    do_GET = do_POST = do_PUT = do_DELETE = handle_any


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that hangs up early is part of some tests


server = Server(("127.0.0.1", 0), Handler)
scheme = "http"
if len(sys.argv) > 3:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    server.socket = context.wrap_socket(server.socket, server_side=True)
    scheme = "https"
origin = "%s://127.0.0.1:%d" % (scheme, server.server_address[1])
sys.stdout.write("listening on %s\n" % origin)
sys.stdout.flush()
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()
server.shutdown()
