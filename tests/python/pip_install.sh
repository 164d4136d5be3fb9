#!/usr/bin/env bash
# `pip install .` from the source tree, offline, into a fresh virtual
# environment (Debian's setuptools and wheel seen through
# --system-site-packages), then a send with a login through the installed
# package to the capture server: no VELLORAPI_LIBRARY, no PYTHONPATH.
# Usage: pip_install.sh SOURCE-DIR
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset VELLORAPI_LIBRARY PYTHONPATH
/usr/bin/python3 -m venv --system-site-packages "$work/venv"  # Debian's python3, whose packages hold setuptools and wheel
mkdir "$work/src"  # pip builds in the tree it is given: a copy, so the source stays clean
tar -C "$src" --exclude='./build*' --exclude=./.git --exclude=./dist --exclude=node_modules -cf - . | tar -C "$work/src" -xf -
"$work/venv/bin/pip" install --quiet --no-index --no-build-isolation "$work/src" >"$work/pip.log" 2>&1 ||
  { cat "$work/pip.log"; exit 1; }
cd "$work"
VELLORAPI_SYSTEM_DIR=$work VELLORAPI_REGISTRY=$work/none.reg "$work/venv/bin/python" - "$src/tests/servers" <<'PY'
import os, sys
sys.path.insert(0, sys.argv[1])
from launch import free_port, start_capture
import vellorapi
here = os.path.dirname(vellorapi.__file__)
assert "site-packages" in here and os.path.exists(os.path.join(here, "libvellorapi.so.2")), here
port, root = free_port(), os.path.join(os.getcwd(), "capture")
server = start_capture(root, port)
try:
    sent = vellorapi.send(sender="pip@x.test", to="a@b.test", server_ip="127.0.0.1", port=port, user="demo",
                          password="s3cret", message="Subject: pip\r\n\r\ninstalled\r\n")
    assert sent == 1 and len([n for n in os.listdir(os.path.join(root, "Maildir", "new")) if "." in n]) == 2
    print("ok: installed package sent through", vellorapi.library()._name)
finally:
    server.terminate()
    server.wait(timeout=10)
PY
