#!/usr/bin/env bash
# The mutation check: plants each fault of tests/mutants.txt in turn into a
# copy of the tree, rebuilds, runs the suite (ctest -j2, stopping at the
# first failure) and counts the faults the tests caught. A fault whose text
# is not found, or that does not build, is not scored.
# Usage: scripts/mutate.sh [work-dir] [faults-file]
#   (prints one line per fault, then the score; faults-file defaults to
#   tests/mutants.txt, and a smaller list re-checks a few faults)
set -uo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
work=${1:-/tmp/vellor-mutate}
faults=$(realpath "${2:-$src/tests/mutants.txt}")
bash "$src/scripts/setup.sh"
rm -rf "$work" && mkdir -p "$work" && git -C "$src" archive HEAD | tar -x -C "$work"
cp -r "$src/tests/servers/node/node_modules" "$work/tests/servers/node/" 2>/dev/null || true
cmake -S "$work" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLOR_BENCH=OFF >/dev/null
cmake --build "$work/build" -j2 >/dev/null || { echo "mutate: the unchanged tree does not build"; exit 1; }
caught=0 scored=0 survivors=()
# The list is read whole first: no step of the loop can move a file offset under it.
mapfile -t mutants <"$faults"
for line in "${mutants[@]}"; do
  IFS=$'\t' read -r file text replacement <<<"$line"
  case "$file" in ''|'#'*) continue ;; esac
  target="$work/$file"
  cp "$target" "$target.orig"
  if ! python3 - "$target" "$text" "$replacement" <<'PY'
import sys
path, text, replacement = sys.argv[1:4]
source = open(path).read()
if text not in source:
    sys.exit(1)
open(path, "w").write(source.replace(text, replacement, 1))
PY
  then
    echo "unplaced  $file: $text"
    mv "$target.orig" "$target"
    continue
  fi
  if ! cmake --build "$work/build" -j2 </dev/null >/dev/null 2>&1; then
    echo "no build  $file: $text"
  else
    scored=$((scored + 1))
    if (cd "$work/build" && timeout 900 ctest -j2 --stop-on-failure --timeout 120 </dev/null >/dev/null 2>&1); then
      survivors+=("$file: $text")
      echo "SURVIVED  $file: $text"
    else
      caught=$((caught + 1))
      echo "caught    $file: $text"
    fi
  fi
  mv "$target.orig" "$target"
  touch "$target"
done
cmake --build "$work/build" -j2 >/dev/null 2>&1
echo "mutation score: $caught of $scored planted faults caught ($(awk -v c=$caught -v s=$scored 'BEGIN{printf "%.1f", s ? 100*c/s : 0}') %)"
