#!/usr/bin/env bash
# Builds the Debian packages from a build folder, installs vellorapi with
# apt-get, builds the C example against it with pkg-config, runs it without
# LD_LIBRARY_PATH against the capture server, checks the tool, the man page
# and the Python package, then removes the package again. vellor-sendmail
# takes the place of the host's mail transport agent: apt-get is asked what
# installing it would do (take out the MTA in place, never done here, the
# tests' Postfix stays), and both packages are installed, used (a message
# through sendmail, mailq) and removed in a private dpkg root. Run as root.
# Usage: scripts/check_deb.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD build=${1:-build}
echo "deb: building the package"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vellorapi_*_amd64.deb | head -n1)
sm=$(ls "$build"/vellor-sendmail_*_amd64.deb | head -n1)
work=$(mktemp -d /tmp/vellor-deb-XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq vellorapi >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
echo "deb: installing $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$PWD/$deb" >/dev/null
gcc -std=c99 -Wall -o "$work/example" "$src/examples/send_example.c" $(pkg-config --cflags --libs vellorapi)
source "$src/tests/servers/capture.sh"
start_capture "$work"
export VELLORAPI_SYSTEM_DIR=$work VELLORAPI_REGISTRY=$work/none.reg
env -u LD_LIBRARY_PATH "$work/example" 127.0.0.1 "$port" demo s3cret | grep -q "^922 0 Send of 1 message(s) completed"
/usr/bin/vellor --version | grep -q 2.61.0.30
MANWIDTH=80 man vellor | grep -q "EXIT STATUS"
(cd / && SMTP_PORT=$port /usr/bin/python3 -c '
import os, vellorapi
print(vellorapi.send(sender="deb@x.test", to="a@b.test", server_ip="127.0.0.1", port=int(os.environ["SMTP_PORT"]),
                     message="Subject: deb\r\n\r\nfrom the installed package\r\n"))' | grep -qx 1)
echo "deb: vellor-sendmail"
test "$(dpkg-deb -f "$sm" Provides Conflicts Replaces Depends | tr '\n' ' ')" = \
  "Provides: mail-transport-agent Conflicts: mail-transport-agent Replaces: mail-transport-agent Depends: vellorapi (= $(dpkg-deb -f "$deb" Version)) "
plan=$(apt-get -s install "$PWD/$deb" "$PWD/$sm" 2>&1)
grep -q "^Inst vellor-sendmail" <<<"$plan"
mta=$(dpkg -S /usr/sbin/sendmail 2>/dev/null | cut -d: -f1 || true)
[ -z "$mta" ] || grep -q "^Remv $mta " <<<"$plan"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" && touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-script-chrootless -i "$PWD/$deb" "$PWD/$sm" >/dev/null 2>&1
printf '[default]\nhost = 127.0.0.1\nport = %s\nfrom = deb@x.test\nqueue = %s/queue\n' "$port" "$work" >"$work/accounts"
printf 'To: a@b.test\nSubject: sendmail\n\nthrough the installed sendmail\n' |
  VELLOR_ACCOUNTS=$work/accounts "$root/usr/sbin/sendmail" -t -oi
VELLOR_ACCOUNTS=$work/accounts "$root/usr/bin/mailq" >/dev/null
test -f "$root/usr/lib/systemd/system/vellor-queue.timer"
dpkg --root="$root" --force-script-chrootless -r vellor-sendmail vellorapi >/dev/null 2>&1
test -z "$(find "$root" ! -type d ! -path "$root/var/lib/dpkg/*")"
test "$(ls "$work/capture/Maildir/new" | grep -vc json)" = 3
echo "deb: removing the package"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq vellorapi >/dev/null
test ! -e /usr/bin/vellor && ! ldconfig -p | grep -q libvellorapi
echo "deb: installed, built against, sent 3 messages (C, Python, sendmail of vellor-sendmail), removed cleanly"
