# What every end-to-end script of tests/windows shares, sourced first with
# the script's arguments (DIST-FOLDER [i686|x86_64]): `dist`, `arch`,
# `here`, `servers` and a fresh `work` folder holding the capture server's
# password and a message, the Wine session started in it, the servers'
# clean-up by process id and the session's end on exit, the `check` line,
# Windows paths, the options key set from scratch, `send` (vellor.exe send
# under Wine), the count of messages a capture server delivered, and the
# summary at the end.
dist=$(cd "$1" && pwd)
arch=${2:-x86_64}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
servers=$here/../servers
work=$(mktemp -d /tmp/vellor-wine-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wine_session_end
  rm -rf "$work"
}
trap cleanup EXIT
source "$servers/capture.sh"
source "$here/wine_session.sh"
wine_session_start "$arch" "$work/prefix"
printf 's3cret\n' >"$work/password"
printf 'Subject: from Wine\n\nHello from the Windows build.\n' >"$work/message.txt"
failures=0
check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
winpath() { echo "Z:${1//\//\\}"; }
options() {  # options SECURE VERIFY [CA-FILE]: the whole key replaced, the log in WORK/mail.log
  local key='HKEY_LOCAL_MACHINE\Software\orvane\vellorapi\Options' log ca=""
  log=$(winpath "$work/mail.log")
  [ -n "${3:-}" ] && ca=$(winpath "$3") && ca="\"TLSCAFile\"=\"${ca//\\/\\\\}\""
  printf 'REGEDIT4\n\n[-%s]\n\n[%s]\n"logfile"="%s"\n"Transcript"=dword:1\n"SecureConnection"=dword:%x\n"TLSVerifyPeer"=dword:%x\n%s\n' \
    "$key" "$key" "${log//\\/\\\\}" "$1" "$2" "$ca" >"$work/options.reg"
  timeout 120 "$wine" reg import "$(winpath "$work/options.reg")" >/dev/null 2>&1
}
delivered() { ls "$1/capture/Maildir/new" 2>/dev/null | grep -vc '\.json$' || true; }
send() {  # send NAME ARGS...: vellor.exe send; NAME.out, $status and $took (seconds)
  local name=$1 start=$SECONDS; shift
  status=0
  timeout 150 "$wine" "$dist/vellor.exe" send --from a@sender.test --verbose "$@" >"$work/$name.out" 2>&1 || status=$?
  took=$((SECONDS - start))
}
finish() {  # finish WHAT: the outputs when a check failed, and the exit status
  [ "$failures" -eq 0 ] && echo "all $1 checks of the $arch build passed under Wine" && return
  for f in "$work"/*.out; do echo "== $f"; cat "$f"; done
  echo "$failures $1 check(s) of the $arch build failed under Wine"
  exit 1
}
