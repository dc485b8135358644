#!/usr/bin/env bash
# The import check must reject a program that breaks each of its rules, and name each one;
# otherwise a passing check of the product means nothing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
i686-w64-mingw32-gcc -O1 -D_WIN32_WINNT=0x0501 -o "$out/bad.exe" "$here/bad_imports.c" \
  -Wl,--subsystem,console:5.01 || { echo "cannot build the bad program"; exit 1; }
report=$("$here/../../scripts/check-imports.sh" "$out/bad.exe")
status=$?
echo "$report"
[ $status -ne 0 ] || { echo "the check accepted a bad program"; exit 1; }
missing=0
while IFS= read -r expected; do
  grep -qF "$expected" <<<"$report" || { echo "not reported: $expected"; missing=1; }
done <<'LIST'
imports IsWow64Process, which must be looked up at run time
imports AttachConsole, which must be looked up at run time
imports AttachConsole from kernel32.dll, which Windows 2000 lacks
imports _localtime64 from msvcrt.dll, which Windows 2000 lacks
subsystem is not Windows GUI
subsystem version 5.1 is above 5.0
not terminal-server aware
carries a symbol table
more than 360448
no requireAdministrator
LIST
[ $missing -eq 0 ] || exit 1
echo "checker self-test passed"
