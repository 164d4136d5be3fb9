#!/usr/bin/env bash
# Makes the test certificates in DIR with the openssl tool: a CA (ca.pem),
# and signed by it a server certificate for localhost and 127.0.0.1
# (server.pem/.key), one for another name (wrong.pem/.key), one that expired
# in 2020 (expired.pem/.key); and a self-signed one for localhost
# (self.pem/.key). Usage: make_certs.sh DIR
set -euo pipefail
cd "$1"
ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
openssl req -x509 "${ec[@]}" -keyout ca.key -out ca.pem -days 30 -subj "/CN=Vellor Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
sign() {  # name subject-alt-names [ca options...]
  local name=$1 san=$2
  shift 2
  openssl req "${ec[@]}" -keyout "$name.key" -out "$name.csr" -subj "/CN=$name" 2>/dev/null
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$san" >"$name.ext"
  if [ $# -eq 0 ]; then
    openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
        -extfile "$name.ext" -out "$name.pem" 2>/dev/null
  else
    openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in "$name.csr" -extfile "$name.ext" \
        -out "$name.pem" "$@" 2>/dev/null
  fi
}
printf '[ca]\ndefault_ca = test\n[test]\ndir = .\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\ndefault_md = sha256\npolicy = any\nunique_subject = no\n[any]\ncommonName = supplied\n' >ca.cnf
: >index.txt
echo 1000 >serial
sign server "DNS:localhost,IP:127.0.0.1"
sign wrong "DNS:wrong.test"
sign expired "DNS:localhost,IP:127.0.0.1" -startdate 20200101000000Z -enddate 20200102000000Z
openssl req -x509 "${ec[@]}" -keyout self.key -out self.pem -days 30 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" 2>/dev/null
