#!/usr/bin/env bash
# The mutation check: plants each fault of tests/mutants.txt in turn into a
# copy of the tree, rebuilds (ccache keeps the untouched files' objects) and
# runs the suite's fast tests (labels "slow" and "docs" aside: packaging and
# the manual page, nothing a code fault reaches first), several at once and
# stopping at the first failure (a failure counts when the failed test
# fails again run alone), and counts the faults the tests caught. A
# fault whose text is not found, or that does not build, is not scored. The
# unchanged tree must pass the same run first (its failures, if any, run
# again alone), so a fault is only counted
# as caught by a failure the unchanged tree does not have.
# Usage: scripts/mutate.sh [work-dir] [faults-file]
#   (prints one line per fault, then the score and the survivors;
#   faults-file defaults to tests/mutants.txt, and a smaller list re-checks
#   a few faults; MUTATE_JOBS sets the tests run at once, 4 by default:
#   most of them wait on sockets and servers, not on the processor)
# A fault's catching test is remembered in <work-dir>.hints (a tab-separated
# line: file, text, test); the next run tries that test alone first and runs
# the whole set only when it passes, so a run after the first costs about a
# rebuild a fault (of the hinted tests' own executables only: the whole
# build comes when they pass). A fault with no hint of its own first tries the tests that
# caught faults in the same file, then the tests named with the words of the
# file's name, then the whole set (the two longest tests last). MUTATE_FROM=N skips the list's first N-1 faults.
set -uo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
work=${1:-/tmp/vellor-mutate}
faults=$(realpath "${2:-$src/tests/mutants.txt}")
jobs=${MUTATE_JOBS:-4}
hints="$work.hints"
touch "$hints"
bash "$src/scripts/setup.sh" >/dev/null
rm -rf "$work" && mkdir -p "$work" && git -C "$src" archive HEAD | tar -x -C "$work"
cp -r "$src/tests/servers/node/node_modules" "$work/tests/servers/node/" 2>/dev/null || true
launcher=()
command -v ccache >/dev/null &&
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR="$work"
cmake -S "$work" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLOR_BENCH=OFF \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -DNDEBUG" \
  "${launcher[@]}" >/dev/null
cmake --build "$work/build" -j2 >/dev/null 2>&1 || { echo "mutate: the unchanged tree does not build"; exit 1; }

fast_tests() {  # fast_tests [ctest arguments...]: the fast tests of the build
  (cd "$work/build" && timeout 900 ctest -j"$jobs" -LE 'slow|docs' --timeout 60 "$@" </dev/null >/dev/null 2>&1)
}
# A fault is caught when a test fails and fails again run alone: a test
# that only failed beside others on a loaded machine is tried once more.
# Only the first three failures are run again, one at a time (`by` names
# the one that failed again).
caught_once() {  # caught_once [ctest arguments...]
  fast_tests --stop-on-failure "$@" && return 1
  local failed name n=0
  failed=$(cut -d: -f2- "$work/build/Testing/Temporary/LastTestsFailed.log" 2>/dev/null)
  while IFS= read -r name; do
    [ -z "$name" ] && continue
    n=$((n + 1))
    [ "$n" -gt 3 ] && break
    caught_by_hint "$name" && { by=$name; return 0; }
  done <<<"$failed"
  return 1
}
# The tests that take half a minute (the tool and the Python package, run
# as their users do): tried last, when no other test caught the fault.
long_tests='^(vellor_cli|python_package)$'
# keywords FILE: a ctest pattern of the words of the file's name (those of
# three letters or more, also capitalised), the tests most likely to reach it named so.
keywords() {
  basename "$1" | sed 's/\.[a-z]*$//' | tr '_' '\n' |
    awk 'length($0) >= 3 { print; print toupper(substr($0, 1, 1)) substr($0, 2) }' | paste -sd'|'
}
# hinted_tests FILE TEXT: the test that caught this fault last time, if
# any, then up to three others that caught faults in the same file.
hinted_tests() {
  awk -F'\t' -v f="$1" -v t="$2" '
    $1 == f && $2 == t { own = $3 }
    $1 == f && $2 != t && !seen[$3]++ { near[++n] = $3 }
    END { if (own != "") print own; for (i = n; i > 0 && i > n - 3; i--) if (near[i] != own) print near[i] }' "$hints"
}
# caught_by_hint NAME: the named test fails, and fails again.
caught_by_hint() {
  local pattern
  pattern="^$(printf '%s' "$1" | sed 's/[][\\.^$*+?(){}|]/\\&/g')\$"
  for _ in 1 2; do
    (cd "$work/build" && timeout 300 ctest -R "$pattern" --timeout 120 </dev/null >/dev/null 2>&1) && return 1
  done
  return 0
}
# The executable behind each test (its CMake target), so that a fault's
# hinted tests need only their own targets rebuilt, with the shared library
# and the tool (no binary is run stale); a test run by a script has none,
# and a full build comes first.
(cd "$work/build" && ctest -N --show-only=json-v1 2>/dev/null) |
  python3 -c 'import json, sys
for t in json.load(sys.stdin)["tests"]:
    print(t["name"] + "\t" + t.get("command", [""])[0].rsplit("/", 1)[-1])' >"$work/targets"
# targets_of TESTS...: the targets of the named tests, none when one has none.
targets_of() {
  local name target all=()
  for name; do
    target=$(awk -F'\t' -v n="$name" '$1 == n { print $2; exit }' "$work/targets")
    case "$target" in *_test) all+=("$target") ;; *) return 0 ;; esac
  done
  # the library and the tool as well: cases may load or run them
  printf '%s\n' "${all[@]}" vellorapi vellor | sort -u
}
if ! fast_tests && ! (cd "$work/build" && ctest --rerun-failed --timeout 60 </dev/null >/dev/null 2>&1); then
  echo "mutate: the unchanged tree fails these tests:"
  sed 's/^/  /' "$work/build/Testing/Temporary/LastTestsFailed.log"
  exit 1
fi

# try_hints: sets `hint` to the first hinted test that catches the fault.
try_hints() {
  local candidate
  for candidate in "${hinted[@]}"; do
    [ -n "$candidate" ] && caught_by_hint "$candidate" && { hint=$candidate; return 0; }
  done
  return 1
}

caught=0 scored=0 survivors=()
# The list is read whole first: no step of the loop can move a file offset under it.
mapfile -t mutants <"$faults"
index=0
for line in "${mutants[@]}"; do
  IFS=$'\t' read -r file text replacement <<<"$line"
  case "$file" in '' | '#'*) continue ;; esac
  index=$((index + 1))
  [ "$index" -lt "${MUTATE_FROM:-1}" ] && continue
  target="$work/$file"
  cp "$target" "$target.orig"
  if ! python3 - "$target" "$text" "$replacement" <<'PY'; then
import sys
path, text, replacement = sys.argv[1:4]
source = open(path).read()
if text not in source:
    sys.exit(1)
open(path, "w").write(source.replace(text, replacement, 1))
PY
    echo "unplaced  $file: $text"
    mv "$target.orig" "$target"
    continue
  fi
  mapfile -t hinted < <(hinted_tests "$file" "$text")
  mapfile -t targets < <([ "${#hinted[@]}" -gt 0 ] && targets_of "${hinted[@]}")
  hint="" built=no
  [ "${#targets[@]}" -gt 0 ] &&
    cmake --build "$work/build" -j2 --target "${targets[@]}" </dev/null >/dev/null 2>&1 && built=yes && try_hints
  if [ -z "$hint" ] && ! cmake --build "$work/build" -j2 </dev/null >/dev/null 2>&1; then
    echo "no build  $file: $text"
  else
    scored=$((scored + 1))
    [ -z "$hint" ] && [ "$built" = no ] && try_hints
    if [ -n "$hint" ]; then
      caught=$((caught + 1))
      grep -qF "$file"$'\t'"$text"$'\t'"$hint" "$hints" || printf '%s\t%s\t%s\n' "$file" "$text" "$hint" >>"$hints"
      echo "caught    $file: $text  ($(printf '%s' "$hint" | cut -c1-80), hinted)"
    else
      by="" words=$(keywords "$file")
      if { [ -n "$words" ] && caught_once -R "$words"; } || caught_once -E "$long_tests" ||
        caught_once -R "$long_tests"; then
        caught=$((caught + 1))
        printf '%s\t%s\t%s\n' "$file" "$text" "$by" >>"$hints"
        echo "caught    $file: $text  ($(printf '%s' "$by" | cut -c1-80))"
      else
        survivors+=("$file: $text")
        echo "SURVIVED  $file: $text"
      fi
    fi
  fi
  mv "$target.orig" "$target"
  touch "$target"
done
cmake --build "$work/build" -j2 >/dev/null 2>&1
echo "mutation score: $caught of $scored planted faults caught ($(awk -v c=$caught -v s=$scored 'BEGIN{printf "%.1f", s ? 100*c/s : 0}') %)"
for s in "${survivors[@]}"; do echo "  survivor: $s"; done
