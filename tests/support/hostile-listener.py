#!/usr/bin/env python3
"""A server another user may run, for the tests: it listens on a port in the
form asked and stands in for the offline fortune service, answering every
request with "V3" and keeping each connection open.

  hostile-listener.py FORM [PORT]

FORM: v4-mapped-wildcard ([::ffff:0.0.0.0], taking every IPv4 connection to
the port), v6-only-wildcard ([::] with IPV6_V6ONLY on).
Prints the port once listening, then "connection" for each one it takes."""

import socket
import sys
import threading

form = sys.argv[1]
port = int(sys.argv[2]) if len(sys.argv) > 2 else 0

listener = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
listener.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY,
                    1 if form == "v6-only-wildcard" else 0)
where = ("::ffff:0.0.0.0" if form == "v4-mapped-wildcard" else "::", port)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(where)
listener.listen(64)
port = listener.getsockname()[1]
print(port, flush=True)


def answer(head):
    body = b"" if head.startswith(b"HEAD ") else b"V3"
    return (b"HTTP/1.1 200 OK\r\nServer: zhiwei-fortune-service\r\n"
            b"Content-Type: text/html; charset=utf-8\r\n"
            b"Content-Length: %d\r\n\r\n" % len(body) + body)


def serve(connection):
    received = b""
    while True:
        data = connection.recv(4096)
        if not data:
            return
        received += data
        while b"\r\n\r\n" in received:
            head, received = received.split(b"\r\n\r\n", 1)
            connection.sendall(answer(head))


while True:
    accepted, _ = listener.accept()
    print("connection", flush=True)
    threading.Thread(target=serve, args=(accepted,), daemon=True).start()
