#!/usr/bin/python3
"""A misbehaving STARTTLS server for the Windows TLS checks, one connection
at a time. MODE inject: the STARTTLS answer is followed, in the same write,
by a plaintext "554 injected" line, then TLS and a plain dialogue whose
commands go to DIR/commands.txt and the message to DIR/message; stall: the
client's first handshake message is read and never answered, and the next
connections get the plain dialogue without STARTTLS; noread: after
TLS, DATA is answered 354 and nothing more is read; old: TLS 1.1 at most. The file DIR/ready
appears when listening. Usage: tls_peer.py PORT DIR MODE CERT KEY
"""
import os
import socket
import ssl
import sys
import time

port, root, mode, cert, key = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(cert, key)
if mode == "old":
    context.set_ciphers("DEFAULT:@SECLEVEL=0")
    context.minimum_version = context.maximum_version = ssl.TLSVersion.TLSv1_1


def lines(conn):
    buf = b""
    while True:
        while b"\r\n" not in buf:
            more = conn.recv(65536)
            if not more:
                return
            buf += more
        line, buf = buf.split(b"\r\n", 1)
        yield line.decode("latin-1")


def note(name, text):
    with open(os.path.join(root, name), "a", encoding="latin-1") as f:
        f.write(text)


def inside_tls(conn):
    reader = lines(conn)
    for line in reader:
        verb = line.split(" ")[0].upper()
        note("commands.txt", verb + "\n")
        if verb == "DATA":
            conn.sendall(b"354 go ahead\r\n")
            if mode == "noread":
                time.sleep(3600)
            body = []
            for data in reader:
                if data == ".":
                    break
                body.append(data)
            note("message", "\r\n".join(body) + "\r\n")
            conn.sendall(b"250 queued\r\n")
        elif verb == "QUIT":
            conn.sendall(b"221 bye\r\n")
            return
        else:
            conn.sendall(b"250 ok\r\n")


def stall(conn):
    global stalled
    conn.recv(65536)
    note("commands.txt", "STALLED\n")
    stalled = True
    while conn.recv(65536):
        pass


def serve(conn):
    conn.sendall(b"220 peer ready\r\n")
    if stalled:
        inside_tls(conn)
        return
    reader = lines(conn)
    for line in reader:
        if line.upper().startswith("EHLO"):
            conn.sendall(b"250-peer\r\n250 STARTTLS\r\n")
        elif line.upper() == "STARTTLS":
            conn.sendall(b"220 go ahead\r\n554 injected\r\n" if mode == "inject" else b"220 go ahead\r\n")
            if mode == "stall":
                stall(conn)
                return
            inside_tls(context.wrap_socket(conn, server_side=True))
            return
        else:
            conn.sendall(b"500 say EHLO\r\n")


stalled = False
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # a server that stops reading stops the client soon
listener.bind(("127.0.0.1", port))
listener.listen(4)
open(os.path.join(root, "ready"), "w").close()
while True:
    c, _ = listener.accept()
    try:
        serve(c)
    except (OSError, ssl.SSLError):
        pass
    c.close()
