# A scripted peer on 127.0.0.1 for the WebSocket client: each connection gets
# the next reply of the script given on the command line, and every request
# head is printed (a line "request <n>", its header lines, then "end <n>"). Replies:
#   digest-eq    401 with a Digest challenge whose nonce ends in "="
#   digest-int   401 with a Digest challenge offering qop "auth-int" only
#   basic        401 with a Basic challenge
#   bad          400
#   accept       101 with the right accept key, then silence (answers no ping)
#   wrong-key    101 answering another key
#   extension    101 with the right key that accepts an extension never offered
#   long-head    101 with the right key and 101 header lines
import base64
import hashlib
import socket
import sys

GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
REPLIES = {
    "digest-eq": 'HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm="studio, main", '
                 'qop="auth", nonce="bm9uY2U=", opaque="x"\r\nContent-Length: 0\r\n\r\n',
    "digest-int": 'HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm="studio", qop="auth-int", '
                  'nonce="abc"\r\nContent-Length: 0\r\n\r\n',
    "basic": 'HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm="studio"\r\nContent-Length: 0\r\n\r\n',
    "bad": "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n",
}

UPGRADES = {
    "accept": "",
    "wrong-key": "",
    "extension": "Sec-WebSocket-Extensions: permessage-deflate\r\n",
    "long-head": "".join("X-Filler-%d: x\r\n" % i for i in range(101)),
}


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
    return data.split(b"\r\n\r\n")[0].decode()


def main():
    script = sys.argv[1:]
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    print("port", server.getsockname()[1], flush=True)
    keep = []
    for n, reply in enumerate(script, 1):
        conn, _ = server.accept()
        head = read_head(conn)
        # One write per request, closed by "end <n>", so a reader never sees half of it.
        print("request %d\n%s\nend %d" % (n, head or "", n), flush=True)
        if reply in UPGRADES:
            key = [l.split(":", 1)[1].strip() for l in head.split("\r\n") if l.lower().startswith("sec-websocket-key:")][0]
            if reply == "wrong-key":
                key = "dGhlIHNhbXBsZSBub25jZQ=="
            accept = base64.b64encode(hashlib.sha1((key + GUID).encode()).digest()).decode()
            conn.sendall(("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Accept: " + accept + "\r\n" + UPGRADES[reply] + "\r\n").encode())
            keep.append(conn)
        else:
            conn.sendall(REPLIES[reply].encode())
            conn.close()
    print("script done", flush=True)
    server.accept()


main()
