#!/usr/bin/python3
"""Checks the Basic declarations module against the C headers: every Type
block has the fields of its C record in the same order, each of the same
size in bytes (String * N for char[N], Integer for 16-bit, Long for 32-bit
and for handles and pointers on 32-bit Windows, Byte arrays for bytes, a
Type for a nested record), and the 32-bit layout adds up to the record's
size; every Declare names an export of the i686 table.
Usage: check_basic.py ROOT"""
import re
import sys

root = sys.argv[1]
header = open(f"{root}/include/vellorapi.h").read() + open(f"{root}/include/korvexapi.h").read()
basic = open(f"{root}/packaging/windows/vellorapi.bas").read()
consts = {"VELLOR_MAX_VALID_MX": 20, "KORVEX_MAX_MX": 20}
c_sizes = {"char": 1, "uint8_t": 1, "int16_t": 2, "int32_t": 4, "uint32_t": 4, "DWORD": 4, "HGLOBAL": 4, "void": 4}
b_sizes = {"Integer": 2, "Long": 4, "Byte": 1}


def dims(text):
    n = 1
    for d in re.findall(r"\[(\w+)\]", text or ""):
        n *= int(consts.get(d, d))
    return n


def c_records():
    out = {}
    for body, name in re.findall(r"typedef struct \w+ \{(.*?)\} (\w+);", header, re.S):
        fields = []
        for ctype, star, fname, arr in re.findall(r"^\s*(\w+)\s+(\*?)(\w+)((?:\[\w+\])*);", body, re.M):
            size = 4 if star else c_sizes.get(ctype) or out[ctype][1]
            fields.append((fname, size * dims(arr)))
        out[name] = (fields, sum(s for _, s in fields))
    return out


def basic_records(c):
    out = {}
    for name, body in re.findall(r"^Public Type (\w+)\s*$(.*?)^End Type", basic, re.M | re.S):
        fields = []
        for fname, bounds, btype, length in re.findall(
                r"^\s*(\w+)(?:\(([^)]*)\))? As (\w+)(?: \* (\d+))?", body, re.M):
            count = 1
            for b in filter(None, (bounds or "").split(",")):
                lo, hi = b.split(" To ")
                count *= int(hi) - int(lo) + 1
            size = int(length) if btype == "String" else b_sizes.get(btype) or c[btype][1]
            fields.append((fname, size * count))
        out[name] = fields
    return out


c = c_records()
b = basic_records(c)
failures = 0
for name in ("SMTPSEND_STRUCTURE", "SMTPINIT_STRUCTURE", "VALIDMXIPS", "MXQUERY_ENTRY", "MXQUERY_STRUCTURE"):
    want = c[name][0]
    got = b.get(name)
    if got is None:
        print(f"FAIL Type {name} is missing"); failures += 1; continue
    # Fields merged by Basic (a String * N over a char[a][b] array) compare by total.
    if [f for f, _ in want] != [f for f, _ in got] or [s for _, s in want] != [s for _, s in got]:
        print(f"FAIL Type {name} differs from the C record:\n  C:     {want}\n  Basic: {got}"); failures += 1
    else:
        print(f"ok   Type {name}: {len(got)} fields in order, {sum(s for _, s in got)} bytes of fields")
declared = re.findall(r'^Public Declare (?:Function|Sub) (\w+) Lib "(\w+\.dll)"\s*(?:_\s*)?Alias "([^"]+)"', basic, re.M)
table = open(f"{root}/packaging/windows/vellorapi-i686.def").read() + open(f"{root}/packaging/windows/korvex-i686.def").read()
exported = set(re.findall(r"^\s+(\S+) =", table, re.M))
for name, lib, alias in declared:
    if alias not in exported:
        print(f"FAIL Declare {name} names {alias}, not in the export table"); failures += 1
if len(declared) != 14:
    print(f"FAIL {len(declared)} Declare statements, not one for each of the 14 exports"); failures += 1
elif not failures:
    print("ok   14 Declare statements name exports of the i686 table")
sys.exit(1 if failures else 0)
