#!/usr/bin/env bash
# "/?" typed in a console window: cmd.exe in a console (a pseudo-terminal from `script`, which
# Wine turns into the console of cmd and of the programs it starts) runs qtxClear.exe with
# other switches; the usage text must appear on that console and the program must end by
# itself (a box would keep it waiting) with exit code 0.
#   console_usage.sh PREFIX path/to/qtxClear.exe [TWIN.exe]
# The twin is used instead when QTX_E2E_TWIN=1 (a machine that cannot run 32-bit programs).
set -u
export WINEPREFIX=$(realpath "${1:?prefix}") WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
program=${2:?qtxClear.exe}
[ "${QTX_E2E_TWIN:-}" = 1 ] && [ -n "${3:-}" ] && program=$3
exe="Z:$(realpath "$program")"
# "start /wait" makes cmd wait for the GUI program and end with its exit code.
out=$(set -o pipefail; timeout 90 script -qec "/usr/lib/wine/wine64 cmd /c start /wait '' '$exe' /verysilent /?" /dev/null </dev/null | tr -d '\r')
status=$?
echo "$out"
fail=0
[ "$status" -eq 0 ] || { echo "FAIL: exit code $status (124: the program did not end in time)"; fail=1; }
for expected in "qtxClear 1.0" "VELKO Software Uninstall Utility" "/unattended" "3010  removed, a restart will finish it"; do
  grep -qF -- "$expected" <<<"$out" || { echo "FAIL: not on the console: $expected"; fail=1; }
done
[ $fail -eq 0 ] && echo "console usage test passed"
exit $fail
