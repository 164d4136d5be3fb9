#!/usr/bin/env bash
# Reads the export tables of the built DLLs and compares them with what they
# must be, name for name: on i686 the eleven stdcall-decorated names, the four
# type-decorated names (derived here by clang from the argument types) and a
# plain alias of each; on x86_64 the plain names alone. Also checks that neither
# DLL needs a compiler runtime DLL (they must load on a clean Windows).
# Usage: check_exports.sh DIST-ROOT   (holding i686/ and x86_64/)
set -euo pipefail
dist=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

exports() {  # exports OBJDUMP DLL: the export names, sorted
  "$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort
}
compare() {  # compare WHAT EXPECTED-FILE ACTUAL-FILE
  if diff -u "$2" "$3" >"$work/diff"; then echo "ok   $1 ($(wc -l <"$3") names)"
  else echo "FAIL $1"; cat "$work/diff"; failures=$((failures + 1)); fi
}

vellor_stdcall="VELLOR_Initialize_Library@12 VELLOR_Closedown_Library@8 VELLOR_Initialize_Structure@8
VELLOR_Get_Error_Details@4 VELLOR_Send_Message@12 VELLOR_Get_Message_Details@4 VELLOR_Get_Mx_Servers@16
VELLOR_Perform_DNS_Lookup@8 VELLOR_Get_Default_Dns_Server@4 VELLOR_Set_Request_Option@12 VELLOR_Get_Host_Addresses@12"
korvex_stdcall="KorvexAPI_Initialize_Library@16 KorvexAPI_Initialize_Structure@8 KorvexAPI_Library_Version@12
KorvexAPI_Start_Winsock@8 KorvexAPI_Stop_Winsock@4 KorvexAPI_Closedown_Library@8
KorvexAPI_Get_IPAddress_From_Hostname@16 KorvexAPI_Get_Host_By_Address@12 KorvexAPI_Make_Connection@12
KorvexAPI_Close_Socket@12 KorvexAPI_Dns_Get_Mx_Server@20 KorvexAPI_Get_Default_Dns_Server@4
KorvexAPI_Get_Host_Addresses@12 KorvexAPI_Connect_Addresses@24 KorvexAPI_Dns_Query@28"

clang++ --target=i686-pc-windows-msvc -w -c "$here/typed_names.cpp" -o "$work/typed.obj"
i686-w64-mingw32-nm "$work/typed.obj" | awk '$2 == "T" {print $3}' >"$work/typed"
{
  for n in $vellor_stdcall; do echo "_$n"; echo "${n%@*}"; done
  cat "$work/typed"
  sed 's/^?\([^@]*\)@@.*/\1/' "$work/typed"
} | sort >"$work/vellor-i686"
{ for n in $korvex_stdcall; do echo "_$n"; echo "${n%@*}"; done; } | sort >"$work/korvex-i686"
for dll in vellor korvex; do grep -v '[@?]' "$work/$dll-i686" >"$work/$dll-x86_64"; done

for arch in i686 x86_64; do
  objdump=$arch-w64-mingw32-objdump
  exports "$objdump" "$dist/$arch/vellorapi.dll" >"$work/got-vellor"
  exports "$objdump" "$dist/$arch/korvex.dll" >"$work/got-korvex"
  compare "vellorapi.dll $arch export table" "$work/vellor-$arch" "$work/got-vellor"
  compare "korvex.dll $arch export table" "$work/korvex-$arch" "$work/got-korvex"
  for f in vellorapi.dll korvex.dll vellor.exe send_example.exe; do
    "$objdump" -p "$dist/$arch/$f" | sed -n 's/^\s*DLL Name: //p' |
      grep -viE '^(kernel32|msvcrt|user32|advapi32|ws2_32|dnsapi|normaliz|secur32|crypt32|bcrypt|vellorapi|korvex)\.dll$' >"$work/extra" || true
    compare "$arch $f needs no DLL but the system's and the pair's" /dev/null "$work/extra"
  done
done
[ "$failures" -eq 0 ] || { echo "$failures export check(s) failed"; exit 1; }
