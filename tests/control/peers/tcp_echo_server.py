# A plain TCP echo server on 127.0.0.1 (port chosen by the system, printed
# first): the backend a tunnelling web server passes WebSocket payloads to.
import socket
import threading


def echo(conn):
    with conn:
        while True:
            data = conn.recv(65536)
            if not data:
                return
            conn.sendall(data)


def main():
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    print("port", server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=echo, args=(conn,), daemon=True).start()


main()
