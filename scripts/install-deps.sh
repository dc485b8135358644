#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages (Debian 12, as root).
# Quick and quiet when everything is already there. wine32 (the i386 architecture) runs the
# shipped 32-bit program: under Wine's WOW64 in a 64-bit prefix and in a 32-bit prefix.
set -eu
packages="cmake ninja-build googletest g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64 wine32:i386 xvfb xauth imagemagick
  python3 osslsigncode openssl"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
# A mirror in the middle of a sync serves an index of the wrong size for a while: try again.
for attempt in 1 2 3 4 5 6; do
  apt-get update -qq && break
  echo "apt-get update failed (attempt $attempt), trying again in 30 s"
  sleep 30
done
for attempt in 1 2 3; do
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing >/dev/null && exit 0
  echo "apt-get install failed (attempt $attempt), refreshing the index and trying again in 60 s"
  sleep 60
  apt-get update -qq || true
done
exit 1
