#!/usr/bin/env python3
"""A web server another user may run, for the tests: it listens on a free
port in the form asked, answers every request with the same page while
claiming to be the offline fortune service, and keeps each connection open.

  hostile-listener.py FORM [PORT] [BODY]

FORM: v4 (127.0.0.1), v4-mapped-wildcard ([::ffff:0.0.0.0], taking every
IPv4 connection to the port), v6-only-wildcard ([::] with IPV6_V6ONLY on,
taking none of them). Prints the port once listening."""

import socket
import sys
import threading

form = sys.argv[1]
port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
body = (sys.argv[3] if len(sys.argv) > 3 else "V3").encode()

if form == "v4":
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    where = ("127.0.0.1", port)
else:
    listener = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    listener.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY,
                        1 if form == "v6-only-wildcard" else 0)
    where = ("::ffff:0.0.0.0" if form == "v4-mapped-wildcard" else "::", port)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(where)
listener.listen(64)
print(listener.getsockname()[1], flush=True)


def serve(connection):
    received = b""
    while True:
        data = connection.recv(4096)
        if not data:
            return
        received += data
        while b"\r\n\r\n" in received:
            head, received = received.split(b"\r\n\r\n", 1)
            answer = b"" if head.startswith(b"HEAD ") else body
            connection.sendall(b"HTTP/1.1 200 OK\r\nServer: zhiwei-fortune-service\r\n"
                               b"Content-Type: text/html; charset=utf-8\r\n"
                               b"Content-Length: %d\r\n\r\n" % len(answer) + answer)


while True:
    accepted, _ = listener.accept()
    threading.Thread(target=serve, args=(accepted,), daemon=True).start()
