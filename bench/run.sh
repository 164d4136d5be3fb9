#!/usr/bin/env bash
# Builds and runs every benchmark; each prints the library's figure beside
# its peer's. Usage: bench/run.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${1:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELLOR_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
"$build/bench/log_bench"
"$build/bench/body_bench" 100
"$build/bench/queue_bench"
"$build/bench/parallel_bench"
"$build/bench/latency_bench"
bash bench/instructions.sh "$build"
"$build/bench/tls_bench" 100
"$build/bench/dkim_bench"
