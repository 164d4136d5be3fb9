#!/usr/bin/env python3
"""clang-tidy's checks (.clang-tidy) over exactly the sources the Linux
build compiles (the library, the companion and the tool, read from a
configured build's compile_commands.json; tests, fuzzers and benchmarks
aside), two at a time. A file that passed is remembered by the hash of
clang-tidy's version, .clang-tidy, its path and its preprocessed text
(every header it includes, with the tree's own path taken out), in
$XDG_CACHE_HOME/vellor-tidy (else ~/.cache/vellor-tidy): it is checked
again only when one of those changed, in whichever clone. A failure is
never remembered. Usage: scripts/tidy.py BUILD-DIR; exit status 1 when a
file fails, with clang-tidy's findings."""
import hashlib
import json
import os
import shlex
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
CACHE = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "vellor-tidy")


def sources(build):
    found = {}
    for e in json.load(open(os.path.join(build, "compile_commands.json"))):
        path = os.path.realpath(os.path.join(e["directory"], e["file"]))
        rel = os.path.relpath(path, ROOT)
        if path.startswith(ROOT + os.sep) and not rel.startswith(("tests/", "fuzz/", "bench/")):
            found[rel] = e
    return found


def key(rel, entry, salt):
    """The hash a pass is remembered by, or None when the file cannot be preprocessed."""
    args, out = entry.get("arguments") or shlex.split(entry["command"]), []
    skip = False
    for a in args:
        if skip:
            skip = False
        elif a == "-o":
            skip = True
        elif not a.startswith(("-MD", "-MF", "-MT", "-MQ")):
            out.append(a)
    out = [a for a in out if a != "-c"] + ["-E", "-o", "-"]
    pre = subprocess.run(out, cwd=entry["directory"], capture_output=True, timeout=600)
    if pre.returncode != 0:
        return None
    return hashlib.sha256(salt + rel.encode() + b"\0" + pre.stdout.replace(ROOT.encode(), b"<tree>")).hexdigest()


def check(build, rel, entry, salt):
    k = key(rel, entry, salt)
    if k and os.path.exists(os.path.join(CACHE, k)):
        return rel, 0, "", True
    r = subprocess.run(["clang-tidy", "-p", build, "--quiet", rel], cwd=ROOT, capture_output=True, text=True,
                       timeout=1800)
    if r.returncode == 0 and k:
        os.makedirs(CACHE, exist_ok=True)
        open(os.path.join(CACHE, k), "w").close()
    return rel, r.returncode, r.stdout, False


def main():
    build = os.path.abspath(sys.argv[1])
    version = subprocess.run(["clang-tidy", "--version"], capture_output=True, check=True, timeout=60).stdout
    salt = version + open(os.path.join(ROOT, ".clang-tidy"), "rb").read()
    files = sources(build)
    with ThreadPoolExecutor(2) as pool:
        results = list(pool.map(lambda rel: check(build, rel, files[rel], salt), sorted(files)))
    failed = [r for r in results if r[1] != 0]
    for rel, _, out, _ in failed:
        print("tidy: %s\n%s" % (rel, out))
    print("tidy: %d files, %d checked again, %d remembered as passed" %
          (len(results), sum(1 for r in results if not r[3]), sum(1 for r in results if r[3])))
    if failed:
        sys.exit(1)


if __name__ == "__main__":
    main()
