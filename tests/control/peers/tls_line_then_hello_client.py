# Connects to 127.0.0.1:<port>, sends a plain "STARTTLS" line and its TLS
# ClientHello in one segment, finishes the handshake (trusting the CA file
# given), sends "secret" encrypted and prints the server's first line.
import socket
import ssl
import sys


def main(port, cafile):
    context = ssl.create_default_context(cafile=cafile)
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = context.wrap_bio(incoming, outgoing, server_hostname="localhost")
    conn = socket.create_connection(("127.0.0.1", port), timeout=20)
    try:
        tls.do_handshake()
    except ssl.SSLWantReadError:
        pass
    conn.sendall(b"STARTTLS\r\n" + outgoing.read())

    def receive():
        chunk = conn.recv(65536)
        if not chunk:
            sys.exit("closed by the server")
        incoming.write(chunk)

    while True:
        try:
            tls.do_handshake()
            break
        except ssl.SSLWantReadError:
            pending = outgoing.read()
            if pending:
                conn.sendall(pending)
            receive()
    conn.sendall(outgoing.read())
    tls.write(b"secret\r\n")
    conn.sendall(outgoing.read())
    reply = b""
    while b"\r\n" not in reply:
        try:
            reply += tls.read(1024)
        except ssl.SSLWantReadError:
            receive()
    print("reply", reply.decode().strip(), flush=True)


main(int(sys.argv[1]), sys.argv[2])
