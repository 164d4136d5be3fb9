#!/usr/bin/env python3
"""Fails on a test name longer than 100 characters, so a failure stays
readable and its name can be given back to run it alone. Reads the names
CTest knows in a build folder (every gtest case and row included), the
titles of the tool's cases (tests/cli/cases.txt, sendmail.txt) and the Python tests'
methods. Usage: scripts/check_test_names.py BUILD-DIR; exit status 1 with
one line for each name over the limit."""
import os
import re
import subprocess
import sys

LIMIT = 100
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def names(build):
    listed = subprocess.run(["ctest", "-N"], cwd=build, capture_output=True, check=True, timeout=120)
    for m in re.finditer(r"^\s*Test\s+#\d+: (.*?)(?:  # GetParam\(\) = .*)?$", listed.stdout.decode("utf-8", "surrogateescape"), re.M):
        yield m.group(1)
    for cases in ("cases.txt", "sendmail.txt"):
        for line in open(os.path.join(ROOT, "tests", "cli", cases), encoding="utf-8"):
            if line.startswith("=== "):
                yield line[4:].rstrip("\n")
    for base, _, files in os.walk(os.path.join(ROOT, "tests")):
        for f in files:
            if f.endswith(".py"):
                yield from re.findall(r"^\s*def (test_\w+)", open(os.path.join(base, f), encoding="utf-8").read(), re.M)


def main():
    long = [n for n in names(sys.argv[1]) if len(n) > LIMIT]
    for n in long:
        print("check_test_names: %d characters, over %d: %s" % (len(n), LIMIT, n))
    if long:
        sys.exit(1)
    print("check_test_names: every test name is at most %d characters" % LIMIT)


if __name__ == "__main__":
    main()
