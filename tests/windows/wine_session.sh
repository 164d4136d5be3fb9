# Sourced by the scripts that run a Windows build under Wine. wine_loader
# ARCH names the loader, called by path since /usr/bin/wine may be either:
# the 32-bit one for i686, wine64 for x86_64. wine_session_start ARCH PREFIX
# sets $wine to it, makes the prefix (32-bit for i686) and starts one
# wineserver that serves every run until wine_session_end, so the Wine
# session (its services boot under emulation on i686) starts once. With
# $VELLOR_WINE_PREFIX set (windows.sh sets it for each architecture), every
# script of a batch uses that one prefix instead, so it is made only once.
wine_loader() { if [ "$1" = i686 ]; then echo /usr/lib/wine/wine; else echo /usr/lib/wine/wine64; fi; }
wine_session_start() {
  export WINEPREFIX=${VELLOR_WINE_PREFIX:-$2} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  if [ "$1" = i686 ]; then WINEARCH=win32; fi
  wine=$(wine_loader "$1")
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wineserver -p
  timeout 300 "$wine" wineboot -i >/dev/null 2>&1 || true
}
wine_session_end() { timeout 20 /usr/lib/wine/wineserver -k 2>/dev/null || true; }
