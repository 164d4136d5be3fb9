#!/usr/bin/python3
# A misbehaving STARTTLS server for the Windows TLS checks, one connection
# at a time. MODE inject: the STARTTLS answer is followed, in the same write,
# by a plaintext "554 injected" line, then TLS and a plain dialogue whose
# commands go to DIR/commands.txt and the message to DIR/message; stall: the
# client's first handshake message is read and never answered, and the next
# connections get the plain dialogue without STARTTLS; noread: after TLS,
# DATA is answered 354 and nothing more is read; old: TLS 1.1 at most. The
# file DIR/ready appears when listening. Usage: tls_peer.py PORT DIR MODE CERT KEY
import itertools
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


def note(name, text):
    with open(os.path.join(root, name), "a", encoding="latin-1") as f:
        f.write(text)


def dialogue(conn):  # the plain SMTP dialogue: commands noted, the message kept
    lines = (raw.decode("latin-1").rstrip("\r\n") for raw in conn.makefile("rb"))
    for line in lines:
        verb = line.split(" ")[0].upper()
        note("commands.txt", verb + "\n")
        if verb == "DATA":
            conn.sendall(b"354 go ahead\r\n")
            if mode == "noread":
                time.sleep(3600)
            note("message", "".join(data + "\r\n" for data in itertools.takewhile(lambda d: d != ".", lines)))
            conn.sendall(b"250 queued\r\n")
        elif verb == "QUIT":
            return conn.sendall(b"221 bye\r\n")
        else:
            conn.sendall(b"250 ok\r\n")


def serve(conn):
    conn.sendall(b"220 peer ready\r\n")
    if os.path.exists(os.path.join(root, "commands.txt")) and mode == "stall":
        return dialogue(conn)  # the connection after the stalled one
    for line in conn.makefile("rb"):  # the client sends nothing after STARTTLS before the answer
        if line.strip().upper() == b"STARTTLS":
            break
        conn.sendall(b"250-peer\r\n250 STARTTLS\r\n" if line.upper().startswith(b"EHLO") else b"500 say EHLO\r\n")
    else:
        return
    conn.sendall(b"220 go ahead\r\n554 injected\r\n" if mode == "inject" else b"220 go ahead\r\n")
    if mode != "stall":
        return dialogue(context.wrap_socket(conn, server_side=True))
    conn.recv(65536)
    note("commands.txt", "STALLED\n")
    while conn.recv(65536):
        pass


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
