#!/usr/bin/env bash
# Prints the size of the tests against the size of the code, both in
# non-blank, non-comment lines of tracked files:
# - tests: every tracked text file under tests/ and fuzz/ (test code, case
#   data, servers, seeds), except package manifests (package.json,
#   package-lock.json), documentation (.md) and the planted-fault lists
#   (mutants.txt);
# - code: every tracked C or C++ file (.c .cpp .h) outside tests/ and fuzz/
#   (the libraries, the tool, the examples and the benchmarks).
# A comment line starts with // /* * or */ in C, C++ and JavaScript, and #
# elsewhere (a C preprocessor line is code).
# Usage: scripts/test_ratio.sh [-v]   (-v also prints each file's count)
set -euo pipefail
cd "$(dirname "$0")/.."
verbose=${1:-}

count() {  # count FILE: its non-blank, non-comment lines
  awk -v kind="$2" '
    { sub(/^[ \t]+/, ""); sub(/[ \t\r]+$/, "") }
    $0 == "" { next }
    kind == "c" && /^(\/\/|\/\*|\*)/ { next }
    kind == "hash" && /^#/ { next }
    { n++ }
    END { print n + 0 }' "$1"
}

kind_of() {
  case "$1" in
    *.c | *.cpp | *.h | *.js) echo c ;;
    *) echo hash ;;
  esac
}

tests=0 code=0
while IFS= read -r f; do
  [ -f "$f" ] || continue
  case "$f" in
    */mutants.txt | */package.json | */package-lock.json | *.md) continue ;;
    tests/* | fuzz/*) side=tests ;;
    *.c | *.cpp | *.h) side=code ;;
    *) continue ;;
  esac
  grep -Iq . "$f" || continue  # binary or empty
  n=$(count "$f" "$(kind_of "$f")")
  [ -n "$verbose" ] && printf '%6d %-5s %s\n' "$n" "$side" "$f"
  if [ "$side" = tests ]; then tests=$((tests + n)); else code=$((code + n)); fi
done < <(git ls-files)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d lines, code %d lines: tests are %.2f of the code\n", t, c, t / c }'
