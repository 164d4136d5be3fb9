#!/usr/bin/env bash
# End-to-end runs of a Windows build under Wine (wine64 for x86_64, the
# 32-bit loader and a 32-bit prefix for i686), driven from the Linux side:
# the loopback capture server and dnsmasq the Linux tests use, options set
# with `reg add`, vellor.exe and the C example run under Wine, and what the
# server received, the log and the exit statuses checked. One wineserver
# serves all the runs, so the Wine session boots once.
# Usage: end_to_end.sh DIST-FOLDER [i686|x86_64]   (the folder with vellor.exe
# and the DLLs; x86_64 when no architecture is given)
set -euo pipefail
dist=$(cd "$1" && pwd)
arch=${2:-x86_64}
here=$(cd "$(dirname "$0")" && pwd)
servers=$here/../servers
work=$(mktemp -d /tmp/vellor-wine-XXXXXX)
source "$here/script_checks.sh"
run() { timeout 120 "$wine" "$@"; }

wine_session_start "$arch" "$work/prefix"
key='HKLM\Software\orvane\vellorapi\Options'
run reg delete "$key" /f >/dev/null 2>&1 || true  # a shared prefix may hold another batch's options
run reg add "$key" /v logfile /t REG_SZ /d "$(winpath "$work/mail.log")" /f >/dev/null 2>&1
printf 's3cret\n' >"$work/password"
printf 'Subject: from Wine\n\nHello from the Windows build.\n' >"$work/message.txt"

# A relay with AUTH LOGIN, through vellor.exe.
mkdir -p "$work/login"; start_capture "$work/login"; pids+=("$server_pid")
status=0
run "$dist/vellor.exe" send --server-ip 127.0.0.1 --port "$port" --from a@sender.test --to b@rcpt.test \
  --user demo --password-file "$(winpath "$work/password")" --message "$(winpath "$work/message.txt")" \
  >"$work/login.out" 2>&1 || status=$?
check "relay with AUTH LOGIN exits 0" test "$status" -eq 0
check "relay with AUTH LOGIN delivers one message" test "$(delivered "$work/login")" -eq 1
check "the login was AUTH LOGIN" grep -q '"mechanism": "LOGIN", "login": "demo", "success": true' "$work/login/capture/events.jsonl"
check "the body arrived with CRLF" grep -q $'Hello from the Windows build.\r' "$work/login/capture/Maildir/new/"*[0-9a-f]
check "the log file holds the call's lines" grep -q 'VellorAPI \[vellor\]' "$work/mail.log"

# A token login: --oauth2-token-file goes into the record's OAuth2Token, and
# XOAUTH2, the server's first token mechanism, carries it; no output shows it.
printf 'good-token\n' >"$work/token"
status=0
run "$dist/vellor.exe" send --server-ip 127.0.0.1 --port "$port" --from a@sender.test --to b@rcpt.test --verbose \
  --user demo --oauth2-token-file "$(winpath "$work/token")" --message "$(winpath "$work/message.txt")" \
  >"$work/token.out" 2>&1 || status=$?
xoauth2='"mechanism": "XOAUTH2", "login": "demo", "success": true'
check "a token login: exit 0, XOAUTH2 as demo, the token in no output" \
  test "$status-$(grep -c "$xoauth2" "$work/login/capture/events.jsonl")-$(grep -c good-token "$work/token.out")" = 0-1-0

# A relay that offers only AUTH PLAIN, through the C example.
mkdir -p "$work/plain"; CAPTURE_REFUSE_LOGIN=1 start_capture "$work/plain"; pids+=("$server_pid")
status=0
run "$dist/send_example.exe" 127.0.0.1 "$port" demo s3cret >"$work/plain.out" 2>&1 || status=$?
check "the C example exits 0" test "$status" -eq 0
check "the C example logged in with AUTH PLAIN" grep -q '"mechanism": "PLAIN", "login": "demo", "success": true' "$work/plain/capture/events.jsonl"
check "the C example's message arrived" test "$(delivered "$work/plain")" -eq 1

# A queue directory with envelope files, deleted once accepted.
mkdir -p "$work/queue" "$work/qserver"; start_capture "$work/qserver"; pids+=("$server_pid")
for n in 1 2; do
  printf 'Subject: queued %s\r\n\r\nbody %s\r\n' "$n" "$n" >"$work/queue/m$n.txt"
  printf 'MAIL FROM: <q@sender.test>\r\nRCPT TO: <r%s@rcpt.test>\r\n' "$n" >"$work/queue/m$n.ENV"
done
status=0
run "$dist/vellor.exe" send --server-ip 127.0.0.1 --port "$port" --message "$(winpath "$work/queue")" \
  --envelope --delete >"$work/queue.out" 2>&1 || status=$?
check "the queue pass exits 0" test "$status" -eq 0
check "both queued messages arrived" test "$(delivered "$work/qserver")" -eq 2
check "each went to its envelope's recipient" grep -q '"r2@rcpt.test"' "$work/qserver/capture/events.jsonl"
check "the sent files were deleted" test -z "$(ls "$work/queue")"

# A refused recipient: a failure status, the message file kept.
status=0
run "$dist/vellor.exe" send --server-ip 127.0.0.1 --port "$port" --from a@sender.test --to refused@rcpt.test \
  --message "$(winpath "$work/message.txt")" --delete >"$work/refused.out" 2>&1 || status=$?
check "a refused recipient gives a failure status" test "$status" -ne 0
check "a refused recipient's message is kept" test -f "$work/message.txt"
check "a refused recipient's message did not arrive" test "$(delivered "$work/qserver")" -eq 2

# DKIM through the system's CNG: an RSA key signs (python3-dkim checks the
# signature against the public half as openssl prints it); an Ed25519 key
# fails before connecting, with 930 and the reason.
mkdir -p "$work/dkim"; start_capture "$work/dkim"; pids+=("$server_pid")
openssl genpkey -algorithm rsa -pkeyopt rsa_keygen_bits:2048 -out "$work/rsa.pem" 2>/dev/null
openssl genpkey -algorithm ed25519 -out "$work/ed.pem" 2>/dev/null
dkim_send() {  # dkim_send NAME KEY: $status
  status=0
  run "$dist/vellor.exe" send --server-ip 127.0.0.1 --port "$port" --from a@sender.test --to b@rcpt.test \
    --message "$(winpath "$work/message.txt")" --dkim-domain sender.test --dkim-selector s1 \
    --dkim-key "$(winpath "$2")" >"$work/$1.out" 2>&1 || status=$?
}
dkim_send dkim-rsa "$work/rsa.pem"
check "DKIM with RSA: exit 0, one message" test "$status-$(delivered "$work/dkim")" = 0-1
record="v=DKIM1; k=rsa; p=$(openssl pkey -in "$work/rsa.pem" -pubout -outform DER | base64 -w0)"
check "DKIM with RSA: python3-dkim verifies the signature" /usr/bin/python3 -c '
import dkim, glob, sys
m = [f for f in glob.glob(sys.argv[1] + "/capture/Maildir/new/*") if not f.endswith(".json")]
sys.exit(not dkim.verify(open(m[0], "rb").read(), dnsfunc=lambda *a, **k: sys.argv[2].encode()))' "$work/dkim" "$record"
connections=$(grep -c '"connect"' "$work/dkim/capture/events.jsonl" || true)
dkim_send dkim-ed "$work/ed.pem"
check "DKIM with Ed25519: exit 65, nothing sent" test "$status-$(delivered "$work/dkim")" = 65-1
check "DKIM with Ed25519: 930 with the reason" grep -q '930: .*an Ed25519 key, which the Windows build cannot sign with' "$work/dkim-ed.out"
check "DKIM with Ed25519: no connection" test "$(grep -c '"connect"' "$work/dkim/capture/events.jsonl" || true)" = "$connections"
run "$dist/vellor.exe" dkim-record "$(winpath "$work/rsa.pem")" >"$work/dkim-record.out" 2>&1 || true
check "dkim-record on Windows says how to make the record" grep -q 'openssl pkey -in KEY -pubout' "$work/dkim-record.out"

# Delivery by MX: the Windows DNS API asks dnsmasq on port 53 of a loopback address.
dns=127.0.0.77
mkdir -p "$work/mx"; start_capture "$work/mx"; pids+=("$server_pid")
cat >"$work/dnsmasq.conf" <<CONF
no-resolv
no-hosts
bind-interfaces
listen-address=$dns
port=53
mx-host=mx.test,mail.mx.test,10
address=/mail.mx.test/127.0.0.1
CONF
/usr/sbin/dnsmasq --conf-file="$work/dnsmasq.conf" --keep-in-foreground --pid-file= --user=root >"$work/dnsmasq.out" 2>&1 &
pids+=("$!")
sleep 0.5
status=0
KORVEXAPI_DNS_SERVERS=$dns run "$dist/vellor.exe" send --port "$port" --from a@sender.test --to b@mx.test \
  --message "$(winpath "$work/message.txt")" >"$work/mx.out" 2>&1 || status=$?
check "delivery by MX exits 0" test "$status" -eq 0
check "delivery by MX reached the exchanger" test "$(delivered "$work/mx")" -eq 1
run "$dist/vellor.exe" mx mx.test --dns "$dns" >"$work/mxlist.out" 2>&1 || true
check "vellor mx lists the exchanger with its address" grep -q 'mail.mx.test.*10.*127.0.0.1' "$work/mxlist.out"

if [ "$failures" -ne 0 ]; then
  for f in "$work"/*.out; do echo "== $f"; cat "$f"; done
  echo "$failures end-to-end check(s) of the $arch build failed under Wine"
  exit 1
fi
echo "all end-to-end checks of the $arch build passed under Wine"
