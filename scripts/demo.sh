#!/usr/bin/env bash
# The demo: builds the library and the vellor tool, starts a local capture
# SMTP server (aiosmtpd with a Maildir) on 127.0.0.1, sends a sample message
# through it with a login, and shows the status reports, the message as the
# server stored it, and the library's log lines; then stops the server.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "demo: installing what is missing (apt-get, npm; quiet when all is there)"
bash scripts/setup.sh
echo "demo: configuring and building the library and the vellor tool (a few minutes the first time)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target vellor >/dev/null
echo "demo: starting the capture server on 127.0.0.1"

work=$(mktemp -d /tmp/vellor-demo-XXXXXX)
server_pid=
trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/capture"
/usr/bin/python3 tests/servers/capture_smtpd.py 127.0.0.1 "$port" "$work/capture" demo s3cret \
    >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 150); do [ -f "$work/capture/ready" ] && break; sleep 0.1; done

cat >"$work/hello.txt" <<'MSG'
From: Demo Sender <demo@sender.test>
To: Someone <someone@recipient.test>
Subject: Hello from vellor

This message went through the capture server with a login (AUTH PLAIN).
MSG
sed -i 's/$/\r/' "$work/hello.txt"
printf 's3cret\n' >"$work/password"
export VELLORAPI_SYSTEM_DIR=$work VELLORAPI_REGISTRY=$work/none.reg

echo "== vellor send (status reports)"
build/cli/vellor send --server-ip 127.0.0.1 --port "$port" --from demo@sender.test \
    --to someone@recipient.test --message "$work/hello.txt" --user demo --password-file "$work/password"
echo
echo "== the message as the server stored it"
for f in "$work"/capture/Maildir/new/*; do
  case "$f" in *.json) echo "envelope: $(cat "$f")" ;; *) cat "$f" ;; esac
done
echo
echo "== the library's log ($work/vellorlog.txt)"
cat "$work/vellorlog.txt"
