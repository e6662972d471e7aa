# A stand-in TriCaster on 127.0.0.1 for the controller's tests: an HTTP
# interface and a TCP state feed, both on ports the system chooses, printed
# as "ports <http> <feed>".
#
# HTTP: GET /v1/dictionary?key=<name> answers the file <folder>/<name>.xml
# (read afresh each time); while <folder>/http-down exists every request gets
# 503 with an empty body. POST bodies are printed as "post <path> <body>".
# Every request prints "authorization <header or ->". While <folder>/login
# holds "user:password", requests need that login as Digest (realm
# "Switcher", qop "auth"); others get 401 with the Digest challenge.
#
# Feed: each connection prints "feed connected" and then "register <line>"
# (the bytes up to CR, repr-quoted); commands act on the newest one. Commands are files <folder>/command-<n>
# (n = 1, 2, ...) taken in order, each holding one line:
#   send <hex>[ <hex> ...]   every hex chunk written as its own segment
#   endless                  bytes without a zero byte until the reader leaves
#   close                    closes the current connection
# and "done <n>" is printed once a command has been carried out.
import binascii
import hashlib
import http.server
import os
import socket
import sys
import threading
import time

FOLDER = sys.argv[1]
REALM = "Switcher"
NONCE = "3f1c0de5a7b94e21"


def say(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body=b""):
        self.send_response(status)
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def logged_in(self, header):
        path = os.path.join(FOLDER, "login")
        if not os.path.exists(path):
            return True
        with open(path) as f:
            user, _, password = f.read().strip().partition(":")
        if not header.startswith("Digest "):
            return False
        fields = {}
        for part in header[len("Digest "):].split(","):
            name, _, value = part.strip().partition("=")
            fields[name] = value.strip('"')
        md5 = lambda text: hashlib.md5(text.encode()).hexdigest()
        ha1 = md5("%s:%s:%s" % (user, REALM, password))
        ha2 = md5("%s:%s" % (self.command, fields.get("uri", "")))
        expected = md5(":".join([ha1, NONCE, fields.get("nc", ""), fields.get("cnonce", ""), "auth", ha2]))
        return fields.get("username") == user and fields.get("response") == expected

    def down(self):
        header = self.headers.get("Authorization") or ""
        say("authorization " + (header or "-"))
        if os.path.exists(os.path.join(FOLDER, "http-down")):
            self.answer(503)
            return True
        if not self.logged_in(header):
            self.send_response(401)
            self.send_header("WWW-Authenticate",
                             'Digest realm="%s", nonce="%s", qop="auth", algorithm=MD5' % (REALM, NONCE))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return True
        return False

    def do_GET(self):
        if self.down():
            return
        key = self.path.partition("key=")[2]
        path = os.path.join(FOLDER, key + ".xml")
        if not key.isalnum() or not os.path.exists(path):
            self.answer(404)
            return
        with open(path, "rb") as f:
            self.answer(200, f.read())

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length)
        if self.down():
            return
        say("post %s %s" % (self.path, body.decode("utf-8", "replace")))
        self.answer(200)


def next_command(number):
    path = os.path.join(FOLDER, "command-%d" % number)
    while not os.path.exists(path):
        time.sleep(0.01)
    with open(path) as f:
        return f.read().split()


CURRENT = {"conn": None}


def register(conn):
    line = b""
    while not line.endswith(b"\r"):
        chunk = conn.recv(1)
        if not chunk:
            break
        line += chunk
    say("register " + repr(line))


def accept_feed(server):
    while True:
        conn, _ = server.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        say("feed connected")
        CURRENT["conn"] = conn
        threading.Thread(target=register, args=(conn,), daemon=True).start()


def run_commands():
    number = 1
    while True:
        words = next_command(number)
        conn = CURRENT["conn"]
        try:
            if words[0] == "send":
                for chunk in words[1:]:
                    conn.sendall(binascii.unhexlify(chunk))
                    time.sleep(0.05)
            elif words[0] == "endless":
                block = b"<" * 65536
                for _ in range(64):
                    conn.sendall(block)
            if words[0] in ("close", "endless"):
                conn.close()
        except OSError:
            pass
        say("done %d" % number)
        number += 1


def main():
    feed = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    feed.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    feed.bind(("127.0.0.1", 0))
    feed.listen(4)
    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=accept_feed, args=(feed,), daemon=True).start()
    threading.Thread(target=run_commands, daemon=True).start()
    say("ports %d %d" % (httpd.server_address[1], feed.getsockname()[1]))
    httpd.serve_forever()


main()
