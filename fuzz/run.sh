#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/CMakeLists.txt with clang
# (AddressSanitizer and UndefinedBehaviorSanitizer) and runs each for the
# given seconds from the seed corpus in fuzz/corpus. Usage: fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-20}
out=build-fuzz
echo "fuzz: configuring and building the targets with clang"
CC=clang CXX=clang++ cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLOR_FUZZ=ON >/dev/null
cmake --build "$out" -j2 --target list_fuzzer envelope_fuzzer reply_fuzzer registry_fuzzer dots_fuzzer \
    dns_fuzzer >/dev/null
# The log is switched off: the fuzzers exercise parsing, not the log file.
printf 'REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n"UseLogFile"=dword:00000000\r\n' \
    >"$out/registry.reg"
export VELLORAPI_REGISTRY="$PWD/$out/registry.reg" VELLORAPI_SYSTEM_DIR="$PWD/$out"
# Two targets at a time, one a core; each one's last lines shown when it ends.
fuzz_one() {  # fuzz_one TARGET
  mkdir -p "$out/corpus-$1"
  "$out/fuzz/${1}_fuzzer" -max_total_time="$secs" -max_len=4096 -print_final_stats=0 \
      "$out/corpus-$1" "fuzz/corpus/$1" >"$out/fuzz-$1.log" 2>&1 || { tail -n 40 "$out/fuzz-$1.log"; return 1; }
  tail -n 2 "$out/fuzz-$1.log"
  echo "fuzz $1: no crash in ${secs}s"
}
for pair in "list envelope" "reply registry" "dots dns"; do
  set -- $pair
  fuzz_one "$1" & first=$!
  fuzz_one "$2" & second=$!
  failed=0
  wait "$first" || failed=1
  wait "$second" || failed=1
  [ "$failed" = 0 ]
done
