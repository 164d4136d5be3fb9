#!/usr/bin/python3
# Checks the Basic declarations module against the C headers: every Type
# block has the fields of its C record in the same order, each of the same
# size in bytes (String * N for char[N], Integer for 16-bit, Long for 32-bit
# and for handles and pointers on 32-bit Windows, Byte arrays for bytes, a
# Type for a nested record); every Declare names an export of the i686 table, one for each export.
# Usage: check_basic.py ROOT
import re
import sys

root = sys.argv[1]
header = open(f"{root}/include/vellorapi.h").read() + open(f"{root}/include/korvexapi.h").read()
basic = open(f"{root}/packaging/windows/vellorapi.bas").read()
consts = {"VELLOR_MAX_VALID_MX": 20, "KORVEX_MAX_MX": 20}
consts.update((m[1], int(m[2])) for m in re.finditer(r"#define (\w+) (\d+)\n", header))
c_sizes = {"char": 1, "uint8_t": 1, "int16_t": 2, "int32_t": 4, "uint32_t": 4, "DWORD": 4, "HGLOBAL": 4, "void": 4}
b_sizes = {"Integer": 2, "Long": 4, "Byte": 1}


def count(dims):  # the elements of C dimensions ("20", a constant) or Basic bounds ("0 To 19")
    n = 1
    for d in dims:
        lo, _, hi = d.partition(" To ")
        n *= int(hi) - int(lo) + 1 if hi else int(consts.get(d, d))
    return n


c, b = {}, {}  # record name: its fields (name, bytes)
for body, name in re.findall(r"typedef struct \w+ \{(.*?)\} (\w+);", header, re.S):
    c[name] = [(f, (4 if star else c_sizes.get(t) or sum(s for _, s in c[t])) * count(re.findall(r"\[(\w+)\]", dims)))
               for t, star, f, dims in re.findall(r"^\s*(\w+)\s+(\*?)(\w+)((?:\[\w+\])*);", body, re.M)]
for name, body in re.findall(r"^Public Type (\w+)\s*$(.*?)^End Type", basic, re.M | re.S):
    b[name] = [(f, (int(n) if t == "String" else b_sizes.get(t) or sum(s for _, s in c[t])) *
                count(filter(None, bounds.split(","))))
               for f, bounds, t, n in re.findall(r"^\s*(\w+)(?:\(([^)]*)\))? As (\w+)(?: \* (\d+))?", body, re.M)]
failures = 0
for name in ("SMTPSEND_STRUCTURE", "SMTPINIT_STRUCTURE", "VALIDMXIPS", "MXQUERY_ENTRY", "MXQUERY_STRUCTURE",
             "VELLOR_HOST_ADDRESSES"):
    if b.get(name) != c[name]:
        print(f"FAIL Type {name} differs from the C record:\n  C:     {c[name]}\n  Basic: {b.get(name)}")
        failures += 1
    else:
        print(f"ok   Type {name}: {len(c[name])} fields in order, {sum(s for _, s in c[name])} bytes of fields")
declared = re.findall(r'^Public Declare (?:Function|Sub) \w+ Lib "\w+\.dll"\s*(?:_\s*)?Alias "([^"]+)"', basic, re.M)
table = open(f"{root}/packaging/windows/vellorapi-i686.def").read() + open(f"{root}/packaging/windows/korvex-i686.def").read()
unknown = set(declared) - set(re.findall(r"^\s+(\S+) =", table, re.M))
# One Declare for each export of the library's table (each has several names).
wanted = len(set(re.findall(r"= (\S+)", open(f"{root}/packaging/windows/vellorapi-i686.def").read())))
if unknown or len(declared) != wanted:
    print(f"FAIL {len(declared)} Declare statements (one for each of the {wanted} exports wanted), naming no export: {unknown}")
    failures += 1
else:
    print(f"ok   {wanted} Declare statements name exports of the i686 table")
sys.exit(1 if failures else 0)
