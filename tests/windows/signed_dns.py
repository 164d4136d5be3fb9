#!/usr/bin/python3
# A DNS server for the Windows DANE and MTA-STS checks: it answers from a
# zone file over UDP with the AD bit set on every answer, as a validating
# resolver on the host would. Zone lines: NAME TYPE DATA, TYPE one of A
# (an address), MX (PREFERENCE HOST), TXT (the text), TLSA (the record's
# data in hex). Other names get NXDOMAIN, other types of a known name no
# data. When it listens, the file "ready" appears beside the zone.
# Usage: signed_dns.py ADDRESS ZONE-FILE
import os
import socket
import struct
import sys

TYPES = {"A": 1, "MX": 15, "TXT": 16, "AAAA": 28, "TLSA": 52}


def name_bytes(name):
    return b"".join(bytes([len(p)]) + p.encode() for p in name.strip(".").split(".")) + b"\0"


def rdata(kind, data):
    if kind == "A":
        return socket.inet_aton(data)
    if kind == "MX":
        preference, host = data.split()
        return struct.pack(">H", int(preference)) + name_bytes(host)
    if kind == "TXT":
        return bytes([len(data)]) + data.encode()
    return bytes.fromhex(data)  # TLSA


def question(packet):
    at, labels = 12, []
    while packet[at]:
        labels.append(packet[at + 1:at + 1 + packet[at]].decode().lower())
        at += 1 + packet[at]
    kind, = struct.unpack(">H", packet[at + 1:at + 3])
    return ".".join(labels), kind, packet[12:at + 5]


def answer(packet, zone):
    name, kind, asked = question(packet)
    known = [r for r in zone if r[0] == name]
    found = [rdata(k, d) for n, k, d in known if TYPES[k] == kind]
    flags = 0x8000 | (packet[2] & 1) << 8 | 0x80 | 0x20 | (0 if known else 3)
    head = packet[:2] + struct.pack(">HHHHH", flags, 1, len(found), 0, 0)
    records = b"".join(b"\xc0\x0c" + struct.pack(">HHIH", kind, 1, 60, len(r)) + r for r in found)
    return head + asked + records


address, zone_file = sys.argv[1], sys.argv[2]
with open(zone_file) as f:
    zone = [(n.lower().strip("."), k, d) for n, k, d in (line.rstrip("\n").split(" ", 2) for line in f if line.strip())]
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind((address, 53))
open(os.path.join(os.path.dirname(zone_file), "ready"), "w").close()
while True:
    packet, peer = sock.recvfrom(4096)
    try:
        sock.sendto(answer(packet, zone), peer)
    except (IndexError, ValueError, struct.error):
        pass
