#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole test suite.
# Usage: scripts/test.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
echo "test: installing what is missing (apt-get, npm; quiet when all is there)"
bash scripts/setup.sh
build=${1:-build}
shift || true
echo "test: configuring $build"
# The benchmarks build apart (bench/run.sh): the suite does not run them.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLOR_BENCH=OFF "$@" >/dev/null
echo "test: building the libraries, the tool and the tests (a few minutes the first time)"
began=$SECONDS
cmake --build "$build" -j2 >/dev/null
# The tests mostly wait on their servers and time-outs: four at a time on
# two cores (VELLOR_TEST_JOBS sets another count).
jobs=${VELLOR_TEST_JOBS:-4}
echo "test: built in $((SECONDS - began)) s; running the suite (ctest -j$jobs)"
began=$SECONDS
# VELLOR_CTEST_ARGS: more ctest arguments (CI's sanitizer run leaves labels out).
status=0
(cd "$build" && ctest -j"$jobs" --output-on-failure ${VELLOR_CTEST_ARGS:-}) || status=$?
echo "test: the suite ran in $((SECONDS - began)) s"
exit "$status"
