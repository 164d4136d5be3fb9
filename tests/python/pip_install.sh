#!/usr/bin/env bash
# `pip install .` from the source tree, offline, into a fresh virtual
# environment (Debian's setuptools and wheel seen through
# --system-site-packages), then the installed package loads the library and
# companion it carries: no VELLORAPI_LIBRARY, no PYTHONPATH. (Sends through
# the package are tests/python/test_python.py.)
# Usage: pip_install.sh SOURCE-DIR
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset VELLORAPI_LIBRARY PYTHONPATH
/usr/bin/python3 -m venv --system-site-packages "$work/venv"  # Debian's python3, whose packages hold setuptools and wheel
mkdir "$work/src"  # pip builds in the tree it is given: a copy, so the source stays clean
tar -C "$src" --exclude='./build*' --exclude=./.git --exclude=./dist --exclude=node_modules -cf - . | tar -C "$work/src" -xf -
(cd "$work/src" && find . | sort) >"$work/before"
"$work/venv/bin/pip" install --quiet --no-index --no-build-isolation "$work/src" >"$work/pip.log" 2>&1 ||
  { cat "$work/pip.log"; exit 1; }
(cd "$work/src" && find . | sort) | diff "$work/before" - || { echo "pip install . left these in the tree"; exit 1; }
cd "$work"  # away from the source tree: the package imported is the installed one
"$work/venv/bin/python" - <<'PY'
import os
import vellorapi
here = os.path.dirname(vellorapi.__file__)
assert "site-packages" in here and os.path.exists(os.path.join(here, "libvellorapi.so.2")), here
print("ok: the installed package loads", vellorapi.library()._name)  # the library and the companion it carries
PY
