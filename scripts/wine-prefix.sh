#!/usr/bin/env bash
# Creates, starts and stops a disposable 64-bit Wine prefix for the tests.
#   wine-prefix.sh up PREFIX [--keep]   fresh prefix (reused with --keep), null graphics
#                                       driver, no crash dialog, persistent wineserver
#   wine-prefix.sh down PREFIX          stops that prefix's wineserver
set -u
cmd=${1:?up|down}; prefix=${2:?prefix folder}; keep=${3:-}
export WINEPREFIX=$(realpath -m "$prefix") WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
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
