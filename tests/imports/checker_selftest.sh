#!/usr/bin/env bash
# The import check must reject a program that imports a run-time-only function and is not a
# GUI program; otherwise a passing check of the product means nothing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
i686-w64-mingw32-gcc -O1 -o "$out/bad.exe" "$here/bad_imports.c" || { echo "cannot build the bad program"; exit 1; }
report=$("$here/../../scripts/check-imports.sh" "$out/bad.exe")
status=$?
echo "$report"
[ $status -ne 0 ] || { echo "the check accepted a bad program"; exit 1; }
grep -q 'imports IsWow64Process' <<<"$report" || { echo "the run-time-only import was not named"; exit 1; }
grep -q 'subsystem is not Windows GUI' <<<"$report" || { echo "the console subsystem was not reported"; exit 1; }
echo "checker self-test passed"
