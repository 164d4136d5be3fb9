#!/usr/bin/env bash
# The Windows DLL pair, cross-built with Debian's mingw-w64 for i686 and
# x86_64 (warnings as errors), gathered per architecture in
# dist/windows/ARCH: vellorapi.dll, korvex.dll, their import libraries and
# .def files, vellor.exe, send_example.exe, the headers and the Basic
# declarations. Then the export tables are checked. With --test, each
# build's unit tests (all of tests/windows) and end-to-end scripts
# (tests/windows/*end_to_end.sh, TLS through SChannel included) go
# through Wine: the x86_64 build through wine64, the i686 build through the
# 32-bit loader in a 32-bit prefix (set up first by wine32.sh). Each batch
# keeps one wineserver alive, so the Wine session boots once. Installs what
# is missing (as root, from Debian). Usage: windows.sh [--test]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# libgnutls30 carries Wine's TLS (SChannel); libwine only recommends it.
pkgs=(mingw-w64 wine64 libgnutls30 googletest cmake make clang libcli11-dev python3 python3-aiosmtpd dnsmasq-base)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

source "$root/tests/windows/wine_session.sh"

for arch in i686 x86_64; do
  build="$root/build-windows-$arch"
  extra=(-DVELLOR_WINDOWS_TESTS=ON -DCMAKE_CROSSCOMPILING_EMULATOR="$(wine_loader "$arch")")
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/packaging/windows/toolchain-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVELLOR_WERROR=ON "${extra[@]}" >/dev/null
  cmake --build "$build" -j2 >/dev/null
  dist="$root/dist/windows/$arch"
  rm -rf "$dist" && mkdir -p "$dist"
  cp "$build/vellorapi.dll" "$build/korvex.dll" "$build/libvellorapi.dll.a" "$build/libkorvex.dll.a" \
     "$build/cli/vellor.exe" "$build/send_example.exe" "$dist/"
  cp "$root/packaging/windows/vellorapi-$arch.def" "$dist/vellorapi.def"
  cp "$root/packaging/windows/korvex-$arch.def" "$dist/korvex.def"
  cp "$root/include/vellorapi.h" "$root/include/korvexapi.h" "$root/packaging/windows/vellorapi.bas" \
     "$root/examples/send_example.c" "$dist/"
  echo "windows: $arch built into dist/windows/$arch"
done
bash "$root/tests/windows/check_exports.sh" "$root/dist/windows"
/usr/bin/python3 "$root/tests/windows/check_basic.py" "$root"

# The unit tests of one build (every test of tests/windows) with one
# wineserver for the batch, then every end-to-end script of tests/windows
# (*end_to_end.sh DIST-FOLDER ARCH), all in the build's one prefix.
run_tests() {  # run_tests ARCH
  local arch=$1 build="$root/build-windows-$1" start=$SECONDS script
  export VELLOR_WINE_PREFIX="$build/wine-prefix"
  (
    trap wine_session_end EXIT
    wine_session_start "$arch" "$build/wine-prefix"
    cd "$build" && ctest --output-on-failure
  )
  echo "windows: $arch unit tests took $((SECONDS - start)) s"
  for script in "$root"/tests/windows/*end_to_end.sh; do
    local began=$SECONDS
    bash "$script" "$root/dist/windows/$arch" "$arch"
    echo "windows: $arch $(basename "$script") took $((SECONDS - began)) s"
  done
  echo "windows: $arch tests under Wine took $((SECONDS - start)) s"
}

if [ "${1:-}" = "--test" ]; then
  start=$SECONDS
  bash "$root/scripts/wine32.sh"
  echo "windows: 32-bit Wine ready after $((SECONDS - start)) s"
  run_tests x86_64
  run_tests i686
fi
