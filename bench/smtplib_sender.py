#!/usr/bin/python3
"""Sends one message file COUNT times over one connection with smtplib and
prints the seconds from connect to quit. Usage: HOST PORT FILE COUNT"""
import smtplib
import sys
import time

host, port, path, count = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
with open(path, "rb") as f:
    body = f.read()
start = time.perf_counter()
server = smtplib.SMTP(host, port)
server.helo("bench.example.org")
for _ in range(count):
    server.sendmail("bench@example.org", ["sink@example.org"], body)
server.quit()
print("%.6f" % (time.perf_counter() - start))
