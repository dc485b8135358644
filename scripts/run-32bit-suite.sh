#!/usr/bin/env bash
# Runs a suite of the 32-bit test build in a disposable prefix of its own.
#   run-32bit-suite.sh template BITS BUILD          boots BUILD/prefix-template-BITS, which every
#                                                   entry of that kind starts from as a copy
#   run-32bit-suite.sh run BITS BUILD PROGRAM NAME [ARGS...]
#                                                   copies the template to BUILD/prefix-NAME,
#                                                   runs PROGRAM there with 32-bit Wine (a .sh
#                                                   program with bash, WINEPREFIX set), stops it
# BITS 64: a 64-bit prefix (the program under WOW64); 32: a 32-bit prefix (32-bit Windows).
# Exits 77 (skipped) with one line where this machine cannot run 32-bit programs.
set -u
cmd=${1:?template|run}; bits=${2:?64|32}; build=$(realpath "${3:?build folder}")
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/can-run-32bit.sh" || exit 77
template="$build/prefix-template-$bits"
flag=""
[ "$bits" = 32 ] && flag=--win32
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver
down() { WINEPREFIX="$1" "$server" -k >/dev/null 2>&1; WINEPREFIX="$1" "$server" -w >/dev/null 2>&1; }

if [ "$cmd" = template ]; then
  bash "$here/wine-prefix.sh" up "$template" $flag || exit 1
  down "$template"
  exit 0
fi
program=${4:?program}; name=${5:?entry name}; shift 5
prefix="$build/prefix-$name"
[ -f "$template/system.reg" ] || { echo "no template prefix $template"; exit 1; }
rm -rf "$prefix"
cp -a "$template" "$prefix" && bash "$here/wine-prefix.sh" up "$prefix" --keep || { echo "no prefix $prefix"; exit 1; }
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ "$bits" = 32 ] && export WINEARCH=win32
# Through a file: background Wine processes inherit the output handles (see wine-run.sh).
out=$(mktemp)
case "$program" in
  *.sh) bash "$program" "$bits" "$@" </dev/null >"$out" 2>&1 ;;
  *) /usr/lib/wine/wine "$program" "$@" </dev/null >"$out" 2>&1 ;;
esac
rc=$?
cat "$out"
rm -f "$out"
down "$prefix"
[ $rc = 0 ] && rm -rf "$prefix"
exit $rc
