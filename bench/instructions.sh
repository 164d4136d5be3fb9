#!/usr/bin/env bash
# User-space instructions per queued message, counted by valgrind's
# callgrind: the default queue case (1 KiB messages, lockstep, one
# connection to Postfix's smtp-sink, the library's log on) through
# queue_send beside the bare lockstep client. Per message in steady state:
# (instructions for 1,000 - instructions for 100) / 900, which leaves out
# start-up and does not move with the machine's load.
# Usage: bench/instructions.sh BUILD-DIR (with queue_send and bare_client built)
set -euo pipefail
bin=$(cd "${1:?build directory}" && pwd)/bench
command -v valgrind >/dev/null || {
  echo "instructions: installing valgrind (Debian)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends valgrind >/dev/null
}
dir=$(mktemp -d /tmp/vellor-instructions-XXXXXX)
sink=
cleanup() {
  if [ -n "$sink" ]; then
    kill "$sink" 2>/dev/null || true
    wait "$sink" 2>/dev/null || true # a stopped sink's status is not the script's
  fi
  rm -rf "$dir"
}
trap cleanup EXIT

body="Subject: bench"$'\r\n\r\n'
while [ ${#body} -lt 1022 ]; do body+="0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcde"$'\r\n'; done
body=${body:0:1024}
for n in 100 1000; do
  mkdir "$dir/q$n"
  for ((i = 0; i < n; i++)); do printf '%s' "$body" >"$dir/q$n/$(printf 'm%04d.txt' "$i")"; done
done
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n"MsgExtension"="txt"\r\n' \
  >"$dir/options.reg"
export VELLORAPI_REGISTRY="$dir/options.reg" VELLORAPI_SYSTEM_DIR="$dir"  # the log file stays on

port=$((20000 + $$ % 20000))
/usr/sbin/smtp-sink -u nobody -a -p "127.0.0.1:$port" 1024 >/dev/null &
sink=$!
sleep 0.3

# The instructions one program run executes in user space (all its threads).
instructions() {
  valgrind --tool=callgrind --callgrind-out-file="$dir/cg.out" "$@" >/dev/null 2>"$dir/valgrind.err" ||
    { cat "$dir/valgrind.err" >&2; return 1; }
  awk '/^(summary|totals):/ { print $2; exit }' "$dir/cg.out"
}

per_message() {
  local small large
  small=$(instructions "$@" "$dir/q100" "$port" 100)
  large=$(instructions "$@" "$dir/q1000" "$port" 1000)
  echo $(((large - small) / 900))
}

lib=$(per_message "$bin/queue_send")
bare=$(per_message "$bin/bare_client")
echo "user-space instructions per queued message (callgrind, 1 KiB, lockstep into smtp-sink, log on)"
printf '   library       %9d\n   bare client   %9d   library/bare %.2f\n' "$lib" "$bare" \
  "$(awk -v l="$lib" -v b="$bare" 'BEGIN { print l / b }')"
