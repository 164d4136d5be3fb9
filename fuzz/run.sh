#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for the given seconds from the
# seed corpus in fuzz/corpus. Usage: fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-20}
out=build-fuzz
mkdir -p "$out"
core=(platform/syscalls.cpp platform/global_memory.cpp platform/files.cpp platform/registry.cpp
      platform/local_time.cpp platform/system_directory.cpp support/text.cpp support/options.cpp
      support/log_file.cpp submit/address_check.cpp submit/recipient_list.cpp msgfiles/envelope_reader.cpp)
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Iinclude -I.)
# The log is switched off: the fuzzers exercise parsing, not the log file.
printf 'REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n"UseLogFile"=dword:00000000\r\n' \
    >"$out/registry.reg"
export VELLORAPI_REGISTRY="$PWD/$out/registry.reg" VELLORAPI_SYSTEM_DIR="$PWD/$out"
for target in list envelope; do
  clang++ "${flags[@]}" "fuzz/${target}_fuzzer.cpp" "${core[@]}" -o "$out/${target}_fuzzer"
  mkdir -p "$out/corpus-$target"
  "$out/${target}_fuzzer" -max_total_time="$secs" -max_len=4096 -print_final_stats=0 \
      "$out/corpus-$target" "fuzz/corpus/$target" 2>&1 | tail -n 2
  echo "fuzz $target: no crash in ${secs}s"
done
