#!/usr/bin/env bash
# Creates, starts and stops a disposable Wine prefix for the tests.
#   wine-prefix.sh up PREFIX [--keep] [--win32]   fresh prefix (reused with --keep), null
#                                       graphics driver, no crash dialog, persistent wineserver,
#                                       the profile's folders plain folders (not links to the
#                                       Unix home); --win32: a 32-bit prefix (32-bit Windows)
#   wine-prefix.sh down PREFIX          stops that prefix's wineserver
set -u
cmd=${1:?up|down}; prefix=${2:?prefix folder}; shift 2
keep=""; arch=64
for option in "$@"; do
  case "$option" in --keep) keep=--keep ;; --win32) arch=32 ;; esac
done
export WINEPREFIX=$(realpath -m "$prefix") WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A prefix that exists tells its own kind: 32-bit Windows has no syswow64 folder.
[ -f "$WINEPREFIX/system.reg" ] && [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ] && arch=32
if [ "$arch" = 32 ]; then
  export WINEARCH=win32
  wine=/usr/lib/wine/wine
else
  wine=/usr/lib/wine/wine64
fi
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver
case "$WINEPREFIX" in "$HOME/.wine"|"$HOME/.wine/"*) echo "refusing to touch ~/.wine" >&2; exit 2;; esac

case "$cmd" in
up)
  "$server" -k >/dev/null 2>&1
  if [ "$keep" != "--keep" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$wine" wineboot -i </dev/null >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    "$server" -w
    # A test that deletes in the profile's folders must not reach the host's files.
    for link in "$WINEPREFIX"/drive_c/users/*/*; do
      [ -L "$link" ] && rm -f "$link" && mkdir -p "$link"
    done
  fi
  # A persistent server with the prefix's services already running, none of them
  # holding the caller's output, so that each test process starts quickly.
  "$server" -p </dev/null >/dev/null 2>&1
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1
  exit 0 ;;
down)
  "$server" -k >/dev/null 2>&1
  exit 0 ;;
*) echo "usage: $0 up|down PREFIX" >&2; exit 2 ;;
esac
