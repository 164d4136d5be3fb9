#!/usr/bin/env bash
# The layout and bug-prone checks CI runs: every C and C++ source against
# .clang-format, and clang-tidy's bugprone checks (.clang-tidy) over the
# library, the companion and the tool as the Linux build compiles them.
# Usage: check_style.sh [build-dir]   (a configured build; default build-tidy)
set -euo pipefail
cd "$(dirname "$0")/.."
for p in clang-format clang-tidy; do
  command -v "$p" >/dev/null || { export DEBIAN_FRONTEND=noninteractive; apt-get install -y -qq --no-install-recommends "$p" >/dev/null; }
done
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run -Werror
echo "style: every source is laid out as .clang-format says"
build=${1:-build-tidy}
cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DVELLOR_TESTS=OFF -DVELLOR_BENCH=OFF >/dev/null
# Exactly the sources the Linux build compiles (the Windows-only files are
# the Windows build's); a file unchanged since it last passed is not checked again.
python3 scripts/tidy.py "$build"
echo "style: clang-tidy's bugprone checks pass"
