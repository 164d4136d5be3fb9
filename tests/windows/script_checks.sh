# What every end-to-end script of tests/windows shares, sourced after it has
# set `work`, `here` and `servers`: the servers' clean-up by process id and
# the Wine session's end on exit, the `check` line, Windows paths, and the
# count of messages a capture server delivered.
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wine_session_end
  rm -rf "$work"
}
trap cleanup EXIT
source "$servers/capture.sh"
source "$here/wine_session.sh"
failures=0
check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
winpath() { echo "Z:${1//\//\\}"; }
delivered() { ls "$1/capture/Maildir/new" 2>/dev/null | grep -vc '\.json$' || true; }
