#!/usr/bin/env bash
# DANE and MTA-STS of a Windows build under Wine (SChannel on Wine's
# GnuTLS): vellor.exe delivers by MX with SecureConnection 4 (its default
# there) through tests/windows/signed_dns.py, which sets AD on every answer
# from a loopback address (so the AD bit is trusted), to the capture server
# with STARTTLS; the MTA-STS policy comes from tests/servers/policy_https.py.
# Usage: secure_end_to_end.sh DIST-FOLDER [i686|x86_64]
set -euo pipefail
source "$(dirname "$0")/script_checks.sh"
verbs() { grep -v = "$1/capture/commands.txt" 2>/dev/null | tr '\n' ' ' | sed 's/ $//'; }

mkdir -p "$work/certs" "$work/dns" "$work/policy"
bash "$servers/make_certs.sh" "$work/certs" ta-mx DNS:ta-mx.test,DNS:ta2-mx.test ca
cat "$work/certs/ta-mx.pem" "$work/certs/ca.pem" >"$work/certs/ta-chain.pem"  # the anchor sent too
cp "$work/certs/ta-mx.key" "$work/certs/ta-chain.key"
hex() { od -An -v -tx1 | tr -d ' \n'; }
spki_sha256() { openssl x509 -in "$work/certs/$1.pem" -pubkey -noout | openssl pkey -pubin -outform DER |
  openssl dgst -sha256 -binary | hex; }
dns=127.0.0.79
cat >"$work/dns/zone" <<ZONE
ee.test MX 10 ee-mx.test
ee-mx.test A 127.0.0.1
_25._tcp.ee-mx.test TLSA 030101$(spki_sha256 mx)
bad.test MX 10 bad-mx.test
bad-mx.test A 127.0.0.1
_25._tcp.bad-mx.test TLSA 030101$(spki_sha256 wrong)
ta.test MX 10 ta-mx.test
ta-mx.test A 127.0.0.1
_25._tcp.ta-mx.test TLSA 020000$(openssl x509 -in "$work/certs/ca.pem" -outform DER | hex)
ta2.test MX 10 ta2-mx.test
ta2-mx.test A 127.0.0.1
_25._tcp.ta2-mx.test TLSA 020001$(openssl x509 -in "$work/certs/ca.pem" -outform DER | openssl dgst -sha256 -binary | hex)
dest.test MX 10 mx.dest.test
mx.dest.test A 127.0.0.1
_mta-sts.dest.test TXT v=STSv1; id=1;
mta-sts.dest.test A 127.0.0.1
ZONE
/usr/bin/python3 "$here/signed_dns.py" "$dns" "$work/dns/zone" >"$work/dns.log" 2>&1 &
pids+=("$!")
printf 'version: STSv1\nmode: enforce\nmx: mx.dest.test\nmax_age: 86400\n' >"$work/policy/policy.txt"
export VELLOR_MTA_STS_PORT
VELLOR_MTA_STS_PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
/usr/bin/python3 "$servers/policy_https.py" "$VELLOR_MTA_STS_PORT" "$work/certs/mta-sts.pem" \
  "$work/certs/mta-sts.key" "$work/policy/policy.txt" "$work/policy" >"$work/policy.log" 2>&1 &
pids+=("$!")
for _ in $(seq 100); do [ -f "$work/dns/ready" ] && [ -f "$work/policy/ready" ] && break; sleep 0.1; done

# NAME DOMAIN CERT EXIT-COMMANDS LOG-LINE: each a capture server of its own.
options 0 1
while IFS='|' read -r name domain cert expected line; do
  start_capture "$work/$name" --tls starttls "$work/certs/$cert.pem" "$work/certs/$cert.key"
  pids+=("$server_pid")
  KORVEXAPI_DNS_SERVERS=$dns send "$name" --port "$port" --to "b@$domain" --ca-file "$(winpath "$work/certs/ca.pem")" \
    --message "$(winpath "$work/message.txt")"
  check "$name: the exit status and the commands the server saw" test "$status-$(verbs "$work/$name")" = "$expected"
  check "$name: the log says \"$line\"" grep -qF "$line" "$work/mail.log"
done <<'ROWS'
dane-ee|ee.test|mx|0-EHLO STARTTLS EHLO MAIL|DANE: the certificate of [ee-mx.test] matched its TLSA record
dane-mismatch|bad.test|mx|75-EHLO STARTTLS|DANE: Secure connection to [127.0.0.1] failed
dane-ta|ta.test|ta-mx|0-EHLO STARTTLS EHLO MAIL|DANE: the certificate of [ta-mx.test] matched its TLSA record
dane-ta-sent|ta2.test|ta-chain|0-EHLO STARTTLS EHLO MAIL|DANE: the certificate of [ta2-mx.test] matched its TLSA record
sts-enforce|dest.test|mx|0-EHLO STARTTLS EHLO MAIL|MTA-STS: the certificate of [mx.dest.test] verified (enforce)
sts-wrong-name|dest.test|wrong|75-EHLO STARTTLS|MTA-STS: Secure connection to [127.0.0.1] failed
ROWS
check "the policy was fetched over HTTPS" grep -q mta-sts.txt "$work/policy/requests.txt"

finish "DANE and MTA-STS"
