#!/usr/bin/env bash
# Makes the test certificates in DIR with the openssl tool: a CA (ca.pem),
# and signed by it a server certificate for localhost, 127.0.0.1 and ::1
# (server.pem/.key), one for another name (wrong.pem/.key), one that expired
# in 2020 (expired.pem/.key); and a self-signed one for localhost
# (self.pem/.key); for delivery by MX, mx.pem/.key for mx.dest.test and
# mta-sts.pem/.key for mta-sts.dest.test (its policy server). Each further NAME SAN ISSUER triple adds NAME.pem/.key for
# SAN, signed by ISSUER.pem, with the issuer appended unless it is the CA.
#
# Every signature is made again until both its halves (r and s) take the
# full 32 bytes: Wine's certificate check refuses the one P-256 signature in
# about a hundred whose r or s starts with a zero byte, which would fail a
# Windows test at random. Usage: make_certs.sh DIR [NAME SAN ISSUER]...
set -euo pipefail
cd "$1"
shift
ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
full_halves() {  # true when both INTEGERs of FILE's signature take 32 bytes or more
  local at
  at=$(openssl asn1parse -in "$1" | tail -1 | cut -d: -f1)
  [ "$(openssl asn1parse -in "$1" -strparse "$at" | grep -cE ' l= *3[2-9] prim: INTEGER')" = 2 ]
}
until openssl req -x509 "${ec[@]}" -keyout ca.key -out ca.pem -days 30 -subj "/CN=Vellor Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null &&
  full_halves ca.pem; do :; done
sign() {  # NAME SAN ISSUER [ca options...]: options given sign through `openssl ca`
  local name=$1 san=$2 issuer=$3
  shift 3
  openssl req "${ec[@]}" -keyout "$name.key" -out "$name.csr" -subj "/CN=$name" 2>/dev/null
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$san" >"$name.ext"
  until if [ $# -eq 0 ]; then
      openssl x509 -req -in "$name.csr" -CA "$issuer.pem" -CAkey "$issuer.key" -CAserial ca.srl -CAcreateserial \
        -days 30 -extfile "$name.ext" -out "$name.pem" 2>/dev/null
    else
      openssl ca -batch -config ca.cnf -cert "$issuer.pem" -keyfile "$issuer.key" -in "$name.csr" \
        -extfile "$name.ext" -notext -out "$name.pem" "$@" 2>/dev/null
    fi && full_halves "$name.pem"; do :; done
  if [ "$issuer" != ca ]; then sed -n '/BEGIN CERT/,/END CERT/p' "$issuer.pem" >>"$name.pem"; fi
}
printf '[ca]\ndefault_ca = test\n[test]\ndir = .\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\ndefault_md = sha256\npolicy = any\nunique_subject = no\n[any]\ncommonName = supplied\n' >ca.cnf
: >index.txt
echo 1000 >serial
sign server "DNS:localhost,IP:127.0.0.1,IP:::1" ca
sign wrong "DNS:wrong.test" ca
sign expired "DNS:localhost,IP:127.0.0.1" ca -startdate 20200101000000Z -enddate 20200102000000Z
sign mx "DNS:mx.dest.test" ca
sign mta-sts "DNS:mta-sts.dest.test" ca
until openssl req -x509 "${ec[@]}" -keyout self.key -out self.pem -days 30 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" 2>/dev/null && full_halves self.pem; do :; done
while [ $# -ge 3 ]; do
  sign "$1" "$2" "$3"
  shift 3
done
