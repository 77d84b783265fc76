#!/usr/bin/env python3
"""A loopback server that answers every GET with one body in chunks of a fixed size.

    chunked_server.py MIB SIZE [SIZE ...]

Listens on a free port of 127.0.0.1, prints the port on its first line of output, then serves
"/SIZE" (one of the sizes given) as MIB MiB of pseudo-random bytes in chunks of SIZE bytes, and
"/SIZE.sha256" as the hexadecimal SHA-256 of those bytes (so that a client's copy can be checked).
The chunked bytes are built once at start and sent with one call per response, so that the
server costs next to nothing beside the client it measures. Connections are kept open between
requests. Runs until killed or until its standard input closes.
"""

import hashlib
import random
import socket
import sys
import threading


def chunked(payload, size):
    parts = []
    for at in range(0, len(payload), size):
        piece = payload[at:at + size]
        parts.append(b"%x\r\n" % len(piece))
        parts.append(piece)
        parts.append(b"\r\n")
    parts.append(b"0\r\n\r\n")
    return b"".join(parts)


def serve(connection, answers):
    with connection:
        pending = b""
        while True:
            while b"\r\n\r\n" not in pending:
                data = connection.recv(65536)
                if not data:
                    return
                pending += data
            head, pending = pending.split(b"\r\n\r\n", 1)
            path = head.split(b"\r\n", 1)[0].split(b" ")[1].decode()
            answer = answers.get(path)
            if answer is None:
                connection.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
                continue
            connection.sendall(answer)


def main():
    mib = int(sys.argv[1])
    sizes = [int(s) for s in sys.argv[2:]]
    payload = random.Random(14).randbytes(mib << 20)
    digest = hashlib.sha256(payload).hexdigest().encode()
    answers = {}
    for size in sizes:
        answers["/%d" % size] = (b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                 b"Transfer-Encoding: chunked\r\n\r\n" + chunked(payload, size))
        answers["/%d.sha256" % size] = (b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n"
                                        % len(digest) + digest)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)

    def accept():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=serve, args=(connection, answers), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
