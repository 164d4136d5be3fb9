#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds the C example against
# it with pkg-config and with find_package, and runs both against the
# capture server with a login.
# Usage: check_install.sh BUILD-DIR SOURCE-DIR [EXTRA-CFLAGS]
# (EXTRA-CFLAGS: the sanitizer flags when the libraries were built with them)
set -euo pipefail
build=$1 src=$2 cflags=${3:-}
work=$(mktemp -d /tmp/vellor-install-XXXXXX)
server_pid=
trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(ls -d "$work"/prefix/lib*/ | head -n1)
test -L "$libdir/libvellorapi.so" && test -e "$libdir/libvellorapi.so.2" && test -e "$libdir/libkorvexapi.so.2"
test -f "$work/prefix/share/vellorapi/registry.reg.example"
test -x "$work/prefix/bin/vellor"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
gcc -std=c99 -Wall $cflags -o "$work/example-pc" "$src/examples/send_example.c" \
    $(pkg-config --cflags --libs vellorapi) -Wl,-rpath,"$libdir"
cmake -S "$src/examples" -B "$work/example-build" -DCMAKE_PREFIX_PATH="$work/prefix" \
    -DCMAKE_C_FLAGS="$cflags" -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/example-build" >/dev/null

source "$src/tests/servers/capture.sh"
start_capture "$work"
export VELLORAPI_SYSTEM_DIR=$work VELLORAPI_REGISTRY=$work/none.reg
"$work/example-pc" 127.0.0.1 "$port" demo s3cret | grep -q "^922 0 Send of 1 message(s) completed"
"$work/example-build/send_example" 127.0.0.1 "$port" demo s3cret >/dev/null
test "$(ls "$work/capture/Maildir/new" | grep -vc json)" = 2
echo "installed package: pkg-config and find_package builds sent 2 messages"
