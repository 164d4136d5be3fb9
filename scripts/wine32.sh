#!/usr/bin/env bash
# 32-bit Wine on an x86_64 Debian 12 machine whose kernel runs no 32-bit code:
# qemu-i386 (10.x, the first that runs 32-bit Wine; bookworm's own 7.2 cannot)
# taken as one binary from bookworm-backports' qemu-user package and kept in
# /opt/qemu-i386; a binfmt_misc handler for i386 ELF files pointing at it
# (flag F: the kernel opens the emulator once, at registration), checked on
# every run because it does not survive a reboot; then the i386 architecture
# and wine32:i386, whose loader is /usr/lib/wine/wine. Only the one handler
# is registered (no qemu-user-static, no binfmt-support). Does nothing and
# prints nothing when all is there. Run as root.
set -euo pipefail
qemu=/opt/qemu-i386/qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
lock_wait=(-o DPkg::Lock::Timeout=600)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# The machine's own Debian entry (deb822 or one-line form) turned into a
# one-line entry for SUITE: "deb [arch=.. signed-by=..] URI SUITE main".
debian_entry() {
  local suite=$1 codename arch uri="" key=""
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  arch=$(dpkg --print-architecture)
  read -r uri key < <(
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk -v want="$codename" '
      function flush() { if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " want " ") && uri != "") { print uri, key; exit } }
      /^[ \t]*$/ { flush(); types = suites = uri = key = ""; next }
      tolower($1) == "types:"     { $1 = ""; types = $0 }
      tolower($1) == "suites:"    { $1 = ""; suites = $0 }
      tolower($1) == "uris:"      { uri = $2 }
      tolower($1) == "signed-by:" { key = $2 }
      END { flush() }'
  ) || true
  if [ -z "$uri" ]; then  # the one-line form: deb [options] URI SUITE COMPONENTS
    read -r uri key < <(
      cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk -v want="$codename" '
        $1 == "deb" { key = ""; i = 2
          if ($2 ~ /^\[/) { while (i <= NF) { if ($i ~ /^signed-by=/) { key = substr($i, 11); sub(/\]$/, "", key) }
                                              if ($(i++) ~ /\]$/) break } }
          if ($(i + 1) == want) { print $i, key; exit } }'
    ) || true
  fi
  [ -n "$uri" ] || { echo "wine32: no Debian $codename entry in the apt sources" >&2; return 1; }
  echo "deb [arch=$arch${key:+ signed-by=$key}] $uri $suite main"
}

# qemu-i386 from the backports' qemu-user .deb, fetched with a private
# sources list and package lists (the machine's apt state is left as it is).
fetch_qemu() {
  local tmp codename
  tmp=$(mktemp -d /tmp/wine32-qemu-XXXXXX)
  trap 'rm -rf "$tmp"' RETURN
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  debian_entry "$codename-backports" >"$tmp/backports.list"
  mkdir -p "$tmp/lists/partial" "$tmp/parts"
  local opts=(-o Dir::Etc::SourceList="$tmp/backports.list" -o Dir::Etc::SourceParts="$tmp/parts"
              -o Dir::State::Lists="$tmp/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
              -o APT::Sandbox::User=root)
  echo "wine32: fetching qemu-i386 from $codename-backports"
  apt-get "${opts[@]}" update -qq >/dev/null
  (cd "$tmp" && apt-get "${opts[@]}" download -qq "qemu-user/$codename-backports" >/dev/null)
  dpkg-deb -x "$tmp"/qemu-user_*.deb "$tmp/x"
  install -D -m 755 "$tmp/x/usr/bin/qemu-i386" "$qemu"
}

qemu_ok() { [ -x "$qemu" ] && "$qemu" --version 2>/dev/null | grep -Eq 'version ([1-9][0-9])\.'; }
qemu_ok || fetch_qemu
qemu_ok || { echo "wine32: $qemu is not a qemu-i386 of version 10 or later" >&2; exit 1; }

# The handler: i386 ELF executables and shared objects (qemu's own magic and mask).
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
entry=$binfmt/qemu-i386
if ! { [ -e "$entry" ] && grep -qx enabled "$entry" && grep -qx "interpreter $qemu" "$entry" &&
       grep -q '^flags:.*F' "$entry"; }; then
  [ -e "$entry" ] && echo -1 >"$entry"
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:$qemu:F" >"$binfmt/register"
  echo "wine32: registered $qemu for i386 programs"
fi

if ! installed wine32:i386; then
  echo "wine32: installing wine32:i386"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get "${lock_wait[@]}" update -qq >/dev/null
  apt-get "${lock_wait[@]}" install -y -qq --no-install-recommends wine32:i386 >/dev/null
fi
