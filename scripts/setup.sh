#!/usr/bin/env bash
# Installs, quietly and only when missing, the Debian packages that the build,
# the tests, the fuzzers and the benchmarks need. Run as root on Debian 12.
set -euo pipefail
pkgs=(g++ cmake make pkg-config libgtest-dev libgmock-dev libc-ares-dev
      libcli11-dev ccache dnsmasq-base python3 python3-aiosmtpd postfix
      gcc-multilib clang libclang-rt-14-dev curl libssl-dev openssl tmux man-db strace
      clang-format clang-tidy libidn2-dev python3-dkim python3-nacl libmail-dkim-perl
      python3-venv python3-pip python3-setuptools python3-wheel)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# The mail clients the sendmail tests drive (git send-email, bsd-mailx) and
# systemd-analyze for the queue's units, after Postfix: bsd-mailx needs a
# mail transport agent, and Postfix, already there, must be the one it finds
# (installing them alone would bring in another MTA).
clients=()
for p in git-email bsd-mailx systemd; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || clients+=("$p")
done
# Node.js (the second TLS test server) only when no node and npm are there
# already, whatever package brought them.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then missing+=(nodejs npm); fi
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ "${#clients[@]}" -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${clients[@]}" >/dev/null
fi
# The Node smtp-server package for the second TLS test server, from the npm
# registry, into the test servers' own folder.
node_dir="$(cd "$(dirname "$0")/.." && pwd)/tests/servers/node"
if [ ! -d "$node_dir/node_modules/smtp-server" ]; then
  echo "setup: installing the Node test server's package (npm)"
  npm install --prefix "$node_dir" --no-audit --no-fund --no-package-lock --loglevel=error >/dev/null
fi
