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

mkdir -p "$work/certs"
bash "$servers/make_certs.sh" "$work/certs" wild 'DNS:*.test,DNS:*.wild.test' ca forged DNS:localhost server

login=(--user demo --password-file "$(winpath "$work/password")" --message "$(winpath "$work/message.txt")")
capture() {  # capture NAME MODE CERT: a TLS capture server in WORK/NAME
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

# STARTTLS asked by the tool's flags (they go through
# VELLOR_Set_Request_Option and win over the registry's SecureConnection 0):
# with the CA file, the login and MAIL inside TLS; a refused certificate
# gets 907 before any login or envelope (without the CA file the test CA is
# unknown). Wine's chain engine reports a certificate signed by a leaf either
# way, as an invalid CA or as a bad signature: REASON is an extended regular
# expression. NAME CERT SERVER-FLAG NAME-CHECKED CA-FILE EXIT-COMMANDS REASON
options 0 1
while IFS='|' read -r name cert flag checked ca expected reason; do
  capture "$name" starttls "$cert"
  send "$name" "$flag" "$checked" --port "$port" --to b@rcpt.test "${login[@]}" --starttls \
    ${ca:+--ca-file "$(winpath "$work/certs/$ca")"}
  check "$name: the exit status and the commands the server saw" test "$status-$(verbs "$work/$name")" = "$expected"
  [ -z "$reason" ] || check "$name: refused with 907 ($reason)" \
    grep -Eq "907: .*certificate not accepted: ($reason) \(name checked \[$checked\]\)" "$work/$name.out"
done <<'ROWS'
starttls|server|--server|localhost|ca.pem|0-EHLO STARTTLS EHLO AUTH MAIL|
wrong-name|wrong|--server|localhost|ca.pem|75-EHLO STARTTLS|hostname mismatch
expired|expired|--server|localhost|ca.pem|75-EHLO STARTTLS|certificate has expired
self-signed|self|--server|localhost|ca.pem|75-EHLO STARTTLS|self-signed certificate
wrong-address|wrong|--server-ip|127.0.0.1|ca.pem|75-EHLO STARTTLS|hostname mismatch
signed-by-leaf|forged|--server|localhost|ca.pem|75-EHLO STARTTLS|invalid CA certificate|certificate signature failure
unknown-ca|server|--server|localhost||75-EHLO STARTTLS|unable to get local issuer certificate
ROWS

# A queue over one TLS session, the CA file from the registry; the address
# is matched against the certificate's IP entries.
options 1 1 "$work/certs/ca.pem"
capture batch starttls server
mkdir -p "$work/queue"
for n in 1 2 3; do
  printf 'Subject: queued %s\r\n\r\nbody %s\r\n' "$n" "$n" >"$work/queue/m$n.txt"
  printf 'MAIL FROM: <q@sender.test>\r\nRCPT TO: <r%s@rcpt.test>\r\n' "$n" >"$work/queue/m$n.ENV"
done
send batch --server-ip 127.0.0.1 --port "$port" --message "$(winpath "$work/queue")" --envelope --delete
check "a queue to an address: three messages, one STARTTLS" \
  test "$status-$(delivered "$work/batch")-$(verbs "$work/batch")" = "0-3-EHLO STARTTLS EHLO MAIL MAIL MAIL"
check "a queue: the sent files deleted" test -z "$(ls "$work/queue")"

# A queue over three TLS connections at once: the connections are fibers of
# the calling thread, each session through SChannel.
capture lanes starttls server
mkdir -p "$work/queue3"
for n in 1 2 3 4 5 6; do
  printf 'Subject: lane %s\r\n\r\nbody %s\r\n' "$n" "$n" >"$work/queue3/m$n.txt"
  printf 'MAIL FROM: <q@sender.test>\r\nRCPT TO: <r%s@rcpt.test>\r\n' "$n" >"$work/queue3/m$n.ENV"
done
send lanes --server-ip 127.0.0.1 --port "$port" --message "$(winpath "$work/queue3")" --envelope --delete --parallel 3
check "a queue over three connections: six messages, three STARTTLS, the files deleted" \
  test "$status-$(delivered "$work/lanes")-$(verbs "$work/lanes" | grep -o STARTTLS | wc -l)-$(ls "$work/queue3" | wc -l)" = "0-6-3-0"

# Plaintext sent after the STARTTLS answer is dropped, never read as a reply.
peer inject inject
send inject --server localhost --port "$port" --to b@rcpt.test --message "$(winpath "$work/message.txt")"
check "injected plaintext: the message went" grep -q 'Hello from the Windows build' "$work/inject/message"
check "injected plaintext: never seen as a reply" test "$status-$(grep -c 'injected' "$work/inject.out")" = 0-0

# A server that offers nothing newer than TLS 1.1 is refused (Wine's
# SChannel lets TLS 1.1 through whatever the credentials ask: the check
# after the handshake refuses it).
peer old old
send old --server localhost --port "$port" --to b@rcpt.test "${login[@]}"
check "TLS 1.1 at most: refused with 907" grep -q '907: .*Secure connection to \[127.0.0.1\] failed: handshake failed: the server settled on TLS 1.1, older than TLS 1.2' "$work/old.out"
check "TLS 1.1 at most: nothing after STARTTLS" test ! -e "$work/old/commands.txt"

# A server that stops reading the body: ended by the time-out.
head -c 33554432 /dev/zero | tr '\0' 'x' | fold -w 998 >"$work/big.txt"
peer noread noread
KORVEXAPI_TIMEOUT_MS=2000 send noread --server localhost --port "$port" --to b@rcpt.test --message "$(winpath "$work/big.txt")"
check "a server not reading the body: a failure" grep -q 'FAILED 904' "$work/noread.out"
check "a server not reading the body: ended soon (${took}s)" test "$took" -lt 60

# By MX, the certificate is checked against the recipient's domain (it does
# not name the exchanger, mail.mx.test). A wildcard covers one label over
# two or more: *.wild.test names a.wild.test, *.test names no host.
dns=127.0.0.78
capture wild starttls wild
printf 'no-resolv\nno-hosts\nbind-interfaces\nlisten-address=%s\nport=53\nmx-host=foo.test,mail.mx.test,10\nmx-host=a.wild.test,mail.mx.test,10\naddress=/mail.mx.test/127.0.0.1\n' \
  "$dns" >"$work/dnsmasq.conf"
/usr/sbin/dnsmasq --conf-file="$work/dnsmasq.conf" --keep-in-foreground --pid-file= --user=root >"$work/dnsmasq.out" 2>&1 &
pids+=("$!")
sleep 0.5
KORVEXAPI_DNS_SERVERS=$dns send wild-tld --port "$port" --to b@foo.test --message "$(winpath "$work/message.txt")"
check "by MX: *.test does not name foo.test" grep -q 'hostname mismatch (name checked \[foo.test\])' "$work/mail.log"
check "by MX, opportunistic: the unverified session went on over TLS" \
  test "$status-$(delivered "$work/wild")-$(verbs "$work/wild")" = "0-1-EHLO STARTTLS EHLO MAIL"
KORVEXAPI_DNS_SERVERS=$dns send wild --port "$port" --to b@a.wild.test --message "$(winpath "$work/message.txt")"
check "by MX: *.wild.test is accepted for a.wild.test" \
  test "$status-$(delivered "$work/wild")-$(grep -c 'name checked \[a.wild.test\]' "$work/mail.log")" = 0-2-0

# --tls --no-verify over the registry's STARTTLS with checking: TLS from the
# first byte with the login inside, no check, and the log says so.
capture unverified implicit self
send unverified --server localhost --port "$port" --to b@rcpt.test "${login[@]}" --tls --no-verify
check "TLS at once, verification off: the message went, the login inside" \
  test "$status-$(delivered "$work/unverified")-$(verbs "$work/unverified")" = "0-1-EHLO AUTH MAIL"
check "verification off: the log says so" grep -q 'TLS certificate of \[localhost\] not verified: the TLSVerifyPeer option is 0' "$work/mail.log"

# A handshake the server stalls is ended by the time-out; with opportunistic
# TLS (SecureConnection 3) the message then goes on a new connection in the
# clear.
options 3 1 "$work/certs/ca.pem"
peer fallback stall
KORVEXAPI_TIMEOUT_MS=2000 send fallback --server localhost --port "$port" --to b@rcpt.test --message "$(winpath "$work/message.txt")"
check "a stalled handshake: the log says the time-out ended it" \
  grep -q 'TLS with \[127.0.0.1\] failed (handshake failed: no answer within the time-out)' "$work/mail.log"
check "a stalled handshake: ended soon (${took}s)" test "$took" -lt 60
check "a stalled handshake, SecureConnection 3: sent in the clear on the next connection" \
  test "$status-$(tr '\n' ' ' <"$work/fallback/commands.txt")" = "0-STALLED EHLO MAIL RCPT DATA QUIT "
check "a stalled handshake, SecureConnection 3: the message arrived" grep -q 'Hello from the Windows build' "$work/fallback/message"

# IPv6 through Winsock and the DNS API, to a server on ::1 only: a relay by
# its IPv6 literal, a relay name with only an AAAA record, and delivery by MX
# to an exchanger with only an AAAA record (the tool's family is "any").
capture_host=::1 start_capture "$work/six"; pids+=("$server_pid"); six=0
dns6=127.0.0.79
printf 'no-resolv\nno-hosts\nbind-interfaces\nlisten-address=%s\nport=53\nhost-record=relay6.test,::1\nmx-host=six.test,mx6.test,10\nhost-record=mx6.test,::1\n' \
  "$dns6" >"$work/dnsmasq6.conf"
/usr/sbin/dnsmasq --conf-file="$work/dnsmasq6.conf" --keep-in-foreground --pid-file= --user=root >"$work/dnsmasq6.out" 2>&1 &
pids+=("$!")
sleep 0.5
while IFS='|' read -r name how; do
  # shellcheck disable=SC2086
  KORVEXAPI_DNS_SERVERS=$dns6 send "$name" --port "$port" $how --message "$(winpath "$work/message.txt")"
  check "IPv6, $name: delivered to the server on ::1" test "$status-$(delivered "$work/six")" = "0-$((++six))"
done <<'ROWS'
literal|--server ::1 --to b@rcpt.test
aaaa-relay|--server relay6.test --to b@rcpt.test
aaaa-exchanger|--to b@six.test
ROWS

finish TLS
