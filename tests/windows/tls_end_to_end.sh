#!/usr/bin/env bash
# Secure connections of a Windows build under Wine (SChannel on Wine's
# GnuTLS), driven from the Linux side: vellor.exe against the loopback
# capture server with the certificates tests/servers/make_certs.sh makes,
# against the misbehaving peer tests/windows/tls_peer.py, and by MX through
# dnsmasq and the system's DNS API. Options are set a group at a time with
# one `reg import`. Usage: tls_end_to_end.sh DIST-FOLDER [i686|x86_64]
set -euo pipefail
source "$(dirname "$0")/script_checks.sh"
verbs() { grep -v = "$1/capture/commands.txt" 2>/dev/null | tr '\n' ' ' | sed 's/ $//'; }  # no MAIL parameters
count() { grep -cx "$2" "$1/capture/commands.txt" || true; }

mkdir -p "$work/certs"
bash "$servers/make_certs.sh" "$work/certs" mx DNS:mx.test ca wild 'DNS:*.test,DNS:*.wild.test' ca \
  forged DNS:localhost server
printf 's3cret\n' >"$work/password"
printf 'Subject: over TLS\n\nHello through SChannel.\n' >"$work/message.txt"

options() {  # options SECURE VERIFY [CA-FILE]: the whole options key replaced
  local key='HKEY_LOCAL_MACHINE\Software\orvane\vellorapi\Options' log ca=""
  log=$(winpath "$work/mail.log")
  [ -n "${3:-}" ] && ca=$(winpath "$3") && ca="\"TLSCAFile\"=\"${ca//\\/\\\\}\""
  printf 'REGEDIT4\n\n[-%s]\n\n[%s]\n"logfile"="%s"\n"Transcript"=dword:1\n"SecureConnection"=dword:%x\n"TLSVerifyPeer"=dword:%x\n%s\n' \
    "$key" "$key" "${log//\\/\\\\}" "$1" "$2" "$ca" >"$work/options.reg"
  timeout 120 "$wine" reg import "$(winpath "$work/options.reg")" >/dev/null 2>&1
}
login=(--user demo --password-file "$(winpath "$work/password")" --message "$(winpath "$work/message.txt")")
capture() {  # capture NAME MODE CERT: a TLS capture server in WORK/NAME
  mkdir -p "$work/$1"
  start_capture "$work/$1" --tls "$2" "$work/certs/$3.pem" "$work/certs/$3.key"
  pids+=("$server_pid")
}
peer() {  # peer NAME MODE: the misbehaving server in WORK/NAME, on $port
  mkdir -p "$work/$1"
  port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  /usr/bin/python3 "$here/tls_peer.py" "$port" "$work/$1" "$2" "$work/certs/server.pem" "$work/certs/server.key" \
    >"$work/$1.log" 2>&1 &
  pids+=("$!")
  for _ in $(seq 100); do [ -f "$work/$1/ready" ] && break; sleep 0.1; done
}

# STARTTLS with the CA file, asked by the tool's flags (they go through
# VELLOR_Set_Request_Option and win over the registry's SecureConnection 0):
# the login and the message inside TLS.
options 0 1
capture starttls starttls server
send starttls --server localhost --port "$port" --to b@rcpt.test "${login[@]}" --starttls \
  --ca-file "$(winpath "$work/certs/ca.pem")"
check "STARTTLS: exit 0, one message" test "$status-$(delivered "$work/starttls")" = 0-1
check "STARTTLS: the login and MAIL came after STARTTLS" test "$(verbs "$work/starttls")" = "EHLO STARTTLS EHLO AUTH MAIL"

# Refused certificates: 907 before any login or envelope, by the same flags
# (without the CA file the test CA is unknown).
# NAME CERT SERVER-FLAG NAME-CHECKED CA-FILE REASON
while IFS='|' read -r name cert flag checked ca reason; do
  capture "$name" starttls "$cert"
  send "$name" "$flag" "$checked" --port "$port" --to b@rcpt.test "${login[@]}" --starttls \
    ${ca:+--ca-file "$(winpath "$work/certs/$ca")"}
  check "$name: refused with 907 ($reason)" grep -q "907: .*certificate not accepted: $reason (name checked \[$checked\])" "$work/$name.out"
  check "$name: nothing after STARTTLS reached the server" test "$status-$(verbs "$work/$name")" = "69-EHLO STARTTLS"
done <<'ROWS'
wrong-name|wrong|--server|localhost|ca.pem|hostname mismatch
expired|expired|--server|localhost|ca.pem|certificate has expired
self-signed|self|--server|localhost|ca.pem|self-signed certificate
wrong-address|wrong|--server-ip|127.0.0.1|ca.pem|hostname mismatch
signed-by-leaf|forged|--server|localhost|ca.pem|invalid CA certificate
unknown-ca|server|--server|localhost||unable to get local issuer certificate
ROWS

options 1 1 "$work/certs/ca.pem"

# An address is matched against the certificate's IP entries.
capture address starttls server
send address --server-ip 127.0.0.1 --port "$port" --to b@rcpt.test "${login[@]}"
check "an address on the certificate is accepted" test "$status-$(delivered "$work/address")" = 0-1

# A queue over one TLS session.
capture batch starttls server
mkdir -p "$work/queue"
for n in 1 2 3; do
  printf 'Subject: queued %s\r\n\r\nbody %s\r\n' "$n" "$n" >"$work/queue/m$n.txt"
  printf 'MAIL FROM: <q@sender.test>\r\nRCPT TO: <r%s@rcpt.test>\r\n' "$n" >"$work/queue/m$n.ENV"
done
send batch --server localhost --port "$port" --message "$(winpath "$work/queue")" --envelope --delete
check "a queue: three messages, one STARTTLS" test "$status-$(delivered "$work/batch")-$(count "$work/batch" STARTTLS)-$(count "$work/batch" MAIL)" = 0-3-1-3
check "a queue: the sent files deleted" test -z "$(ls "$work/queue")"

# Plaintext sent after the STARTTLS answer is dropped, never read as a reply.
peer inject inject
send inject --server localhost --port "$port" --to b@rcpt.test --message "$(winpath "$work/message.txt")"
check "injected plaintext: the message went" grep -q 'Hello through SChannel' "$work/inject/message"
check "injected plaintext: never seen as a reply" test "$status-$(grep -c 'injected' "$work/inject.out")" = 0-0

# A server that offers nothing newer than TLS 1.1 is refused (Wine's
# SChannel lets TLS 1.1 through whatever the credentials ask: the check
# after the handshake refuses it).
peer old old
send old --server localhost --port "$port" --to b@rcpt.test "${login[@]}"
check "TLS 1.1 at most: refused with 907" grep -q '907: .*Secure connection to \[127.0.0.1\] failed: handshake failed: the server settled on TLS 1.1, older than TLS 1.2' "$work/old.out"
check "TLS 1.1 at most: nothing after STARTTLS" test ! -e "$work/old/commands.txt"

# A stalled handshake and a server that stops reading: one time-out each.
peer stall stall
KORVEXAPI_TIMEOUT_MS=2000 send stall --server localhost --port "$port" --to b@rcpt.test "${login[@]}"
check "a stalled handshake: 907 within the time-out" grep -q '907: .*handshake failed: no answer within the time-out' "$work/stall.out"
check "a stalled handshake: ended soon (${took}s)" test "$took" -lt 60
# Opportunistic TLS: after the stalled handshake, a new connection in the clear.
options 3 1 "$work/certs/ca.pem"
peer fallback stall
KORVEXAPI_TIMEOUT_MS=2000 send fallback --server localhost --port "$port" --to b@rcpt.test --message "$(winpath "$work/message.txt")"
check "a stalled handshake, SecureConnection 3: sent in the clear on the next connection" \
  test "$status-$(tr '\n' ' ' <"$work/fallback/commands.txt")" = "0-STALLED EHLO MAIL RCPT DATA QUIT "
check "a stalled handshake, SecureConnection 3: the message arrived" grep -q 'Hello through SChannel' "$work/fallback/message"
options 1 1 "$work/certs/ca.pem"
head -c 33554432 /dev/zero | tr '\0' 'x' | fold -w 998 >"$work/big.txt"
peer noread noread
KORVEXAPI_TIMEOUT_MS=2000 send noread --server localhost --port "$port" --to b@rcpt.test --message "$(winpath "$work/big.txt")"
check "a server not reading the body: a failure" grep -q 'FAILED 904' "$work/noread.out"
check "a server not reading the body: ended soon (${took}s)" test "$took" -lt 60

# By MX, the certificate is checked against the recipient's domain (it does
# not name the exchanger, mail.mx.test). A wildcard covers one label over
# two or more: *.wild.test names a.wild.test, *.test names no host.
dns=127.0.0.78
capture mx starttls mx
printf 'no-resolv\nno-hosts\nbind-interfaces\nlisten-address=%s\nport=53\nmx-host=mx.test,mail.mx.test,10\nmx-host=foo.test,mail.mx.test,10\nmx-host=a.wild.test,mail.mx.test,10\naddress=/mail.mx.test/127.0.0.1\n' \
  "$dns" >"$work/dnsmasq.conf"
/usr/sbin/dnsmasq --conf-file="$work/dnsmasq.conf" --keep-in-foreground --pid-file= --user=root >"$work/dnsmasq.out" 2>&1 &
pids+=("$!")
sleep 0.5
KORVEXAPI_DNS_SERVERS=$dns send mx --port "$port" --to b@mx.test --message "$(winpath "$work/message.txt")"
check "by MX: the recipient's domain is the name checked" test "$status-$(delivered "$work/mx")" = 0-1
capture wild starttls wild
KORVEXAPI_DNS_SERVERS=$dns send wild-tld --port "$port" --to b@foo.test --message "$(winpath "$work/message.txt")"
check "by MX: *.test does not name foo.test" grep -q 'hostname mismatch (name checked \[foo.test\])' "$work/mail.log"
check "by MX, opportunistic: the unverified session went on over TLS" \
  test "$status-$(delivered "$work/wild")-$(verbs "$work/wild")" = "0-1-EHLO STARTTLS EHLO MAIL"
KORVEXAPI_DNS_SERVERS=$dns send wild --port "$port" --to b@a.wild.test --message "$(winpath "$work/message.txt")"
check "by MX: *.wild.test is accepted for a.wild.test" test "$status-$(delivered "$work/wild")" = 0-2

# --tls --no-verify over the registry's STARTTLS with checking: TLS from the
# first byte with the login inside, no check, and the log says so.
capture unverified implicit self
send unverified --server localhost --port "$port" --to b@rcpt.test "${login[@]}" --tls --no-verify
check "TLS at once, verification off: the message went, the login inside" \
  test "$status-$(delivered "$work/unverified")-$(verbs "$work/unverified")" = "0-1-EHLO AUTH MAIL"
check "verification off: the log says so" grep -q 'TLS certificate of \[localhost\] not verified: the TLSVerifyPeer option is 0' "$work/mail.log"

finish TLS
