#!/usr/bin/env bash
# Installs, quietly and only when missing, the Debian packages that the build,
# the tests, the fuzzers and the benchmarks need. Run as root on Debian 12.
set -euo pipefail
pkgs=(g++ cmake make pkg-config libgtest-dev libgmock-dev libc-ares-dev
      libcli11-dev dnsmasq-base python3 python3-aiosmtpd postfix
      gcc-multilib clang libclang-rt-14-dev curl)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
