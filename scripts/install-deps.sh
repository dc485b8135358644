#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages (Debian 12, as root).
# Quick and quiet when everything is already there. wine32 (the i386 architecture) runs the
# shipped 32-bit program: under Wine's WOW64 in a 64-bit prefix and in a 32-bit prefix.
# Where wine32 cannot be installed, one line says so and the rest goes on: the test command
# then finds that 32-bit programs cannot run, says so, and runs the twin's tests.
set -eu
packages="cmake ninja-build googletest g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64 xvfb xauth imagemagick
  python3 osslsigncode openssl"
packages32="wine32:i386"
missing_of() {
  local missing="" p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
  done
  echo "$missing"
}
# shellcheck disable=SC2086
missing=$(missing_of $packages)
# shellcheck disable=SC2086
missing32=$(missing_of $packages32)
[ -z "$missing$missing32" ] && exit 0
echo "installing:$missing$missing32"
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386

# A mirror in the middle of a sync serves an index of the wrong size for a while (seen for the
# i386 security index): try again, then go on with what was fetched.
refresh() {
  local attempt
  for attempt in 1 2 3; do
    apt-get update -qq && return 0
    echo "apt-get update failed (attempt $attempt)"
    [ "$attempt" = 3 ] || sleep 20
  done
  return 1
}
# install PACKAGES...: three attempts, the index refreshed between them.
install() {
  local attempt
  for attempt in 1 2 3; do
    # shellcheck disable=SC2068
    apt-get install -y -qq --no-install-recommends $@ >/dev/null && return 0
    echo "apt-get install failed (attempt $attempt)"
    [ "$attempt" = 3 ] && return 1
    sleep 30
    refresh || true
  done
}

refresh || true
# shellcheck disable=SC2086
[ -z "$missing" ] || install $missing
# shellcheck disable=SC2086
[ -z "$missing32" ] || install $missing32 ||
  echo "wine32 could not be installed from the package mirror: the shipped 32-bit program cannot run here"
exit 0
