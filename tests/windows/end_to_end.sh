#!/usr/bin/env bash
# End-to-end runs of a Windows build under Wine, driven from the Linux side:
# the loopback capture server the Linux tests use, the log file set with
# `reg import`, vellor.exe and the C example (both linked to the DLL pair) run
# under Wine, DKIM through the system's CNG; what the server received, the
# log and the exit statuses checked. (The queue, envelope files and the DNS
# API are run by tls_end_to_end.sh; the logic above the platform layer is
# the same as on Linux and tested there.)
# Usage: end_to_end.sh DIST-FOLDER [i686|x86_64]   (the folder with vellor.exe
# and the DLLs; x86_64 when no architecture is given)
set -euo pipefail
source "$(dirname "$0")/script_checks.sh"

options 0 0  # the log file in the registry, nothing else of another batch's options
message=(--server-ip 127.0.0.1 --to b@rcpt.test --message "$(winpath "$work/message.txt")")

# A relay with a login, through vellor.exe, started in the work folder: the
# password file and (below) the DKIM key are named relative to it.
start_capture "$work/relay"; pids+=("$server_pid")
cd "$work"
send login "${message[@]}" --port "$port" --user demo --password-file password
check "relay with a login: exit 0, one message" test "$status-$(delivered "$work/relay")" = 0-1
check "the login was AUTH PLAIN" grep -q '"mechanism": "PLAIN", "login": "demo", "success": true' "$work/relay/capture/events.jsonl"
check "the log file the registry names holds the call's lines" grep -q 'VellorAPI \[vellor\]' "$work/mail.log"

# The C example, linked to the import library, with a login, to the same server.
status=0
timeout 150 "$wine" "$dist/send_example.exe" 127.0.0.1 "$port" demo s3cret >"$work/example.out" 2>&1 || status=$?
check "the C example: exit 0, one more message" test "$status-$(delivered "$work/relay")" = 0-2

# DKIM through the system's CNG: an RSA key signs (python3-dkim checks the
# signature against the public half as openssl prints it); an Ed25519 key
# fails before connecting, with 930 and the reason. The same server again.
openssl genpkey -algorithm rsa -pkeyopt rsa_keygen_bits:2048 -out "$work/rsa.pem" 2>/dev/null
openssl genpkey -algorithm ed25519 -out "$work/ed.pem" 2>/dev/null
dkim=(--port "$port" --dkim-domain sender.test --dkim-selector s1 --dkim-key)
send dkim-rsa "${message[@]}" "${dkim[@]}" rsa.pem
check "DKIM with RSA: exit 0, one more message" test "$status-$(delivered "$work/relay")" = 0-3
record="v=DKIM1; k=rsa; p=$(openssl pkey -in "$work/rsa.pem" -pubout -outform DER | base64 -w0)"
check "DKIM with RSA: python3-dkim verifies the signature" /usr/bin/python3 -c '
import dkim, glob, sys
m = [f for f in glob.glob(sys.argv[1] + "/capture/Maildir/new/*") if b"DKIM-Signature:" in open(f, "rb").read()]
sys.exit(not dkim.verify(open(m[0], "rb").read(), dnsfunc=lambda *a, **k: sys.argv[2].encode()))' "$work/relay" "$record"
connections=$(grep -c '"connect"' "$work/relay/capture/events.jsonl" || true)
send dkim-ed "${message[@]}" "${dkim[@]}" "$(winpath "$work/ed.pem")"
check "DKIM with Ed25519: exit 65, nothing sent" test "$status-$(delivered "$work/relay")" = 65-3
check "DKIM with Ed25519: 930 with the reason" grep -q '930: .*an Ed25519 key, which the Windows build cannot sign with' "$work/dkim-ed.out"
check "DKIM with Ed25519: no connection" test "$(grep -c '"connect"' "$work/relay/capture/events.jsonl" || true)" = "$connections"
timeout 120 "$wine" "$dist/vellor.exe" dkim-record "$(winpath "$work/rsa.pem")" >"$work/dkim-record.out" 2>&1 || true
check "dkim-record on Windows says how to make the record" grep -q 'openssl pkey -in KEY -pubout' "$work/dkim-record.out"
finish end-to-end
