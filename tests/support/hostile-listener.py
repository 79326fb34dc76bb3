#!/usr/bin/env python3
"""A server another user may run, for the tests: it listens on a port in the
form asked and, in the way asked, stands in for the offline fortune service.

  hostile-listener.py FORM [PORT] [WAY]

FORM: v4 (127.0.0.1), v4-mapped-wildcard ([::ffff:0.0.0.0], taking every
IPv4 connection to the port), v6-only-wildcard ([::] with IPV6_V6ONLY on).
WAY: service (the default: answers every request with "V3" while claiming to
be the offline fortune service, and keeps each connection open), redirect
(sends every request on to http://0.0.0.0:PORT, the same path), silent
(reads and never answers), drop (closes each connection at once).
Prints the port once listening, then "connection" for each one it takes."""

import socket
import sys
import threading

form = sys.argv[1]
port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
way = sys.argv[3] if len(sys.argv) > 3 else "service"

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
port = listener.getsockname()[1]
print(port, flush=True)


def answer(head):
    if way == "redirect":
        path = head.split(b" ")[1] if head.count(b" ") >= 2 else b"/"
        return (b"HTTP/1.1 302 Found\r\nServer: zhiwei-fortune-service\r\n"
                b"Location: http://0.0.0.0:%d%s\r\nContent-Length: 0\r\n\r\n" % (port, path))
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
        while b"\r\n\r\n" in received and way != "silent":
            head, received = received.split(b"\r\n\r\n", 1)
            connection.sendall(answer(head))


while True:
    accepted, _ = listener.accept()
    print("connection", flush=True)
    if way == "drop":
        accepted.close()
        continue
    threading.Thread(target=serve, args=(accepted,), daemon=True).start()
