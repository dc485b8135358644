#!/usr/bin/env bash
# Runs a 32-bit test program in the test prefix: run-32bit.sh PREFIX PROGRAM.
# Exits 77 (skipped) where this machine cannot run 32-bit programs.
root=$(cd "$(dirname "$0")/../.." && pwd)
bash "$root/scripts/can-run-32bit.sh" || exit 77
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Through a file: background Wine processes inherit the output handles (see wine-run.sh).
out=$(mktemp)
trap 'rm -f "$out"' EXIT
/usr/lib/wine/wine "$2" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
exit $rc
