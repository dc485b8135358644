#!/usr/bin/env bash
# Shows the program at work: builds it, makes a fresh Wine prefix with a simulated installation
# of the suite, runs the 64-bit build there very silently (declining the Safe-Mode offer as an
# administrator might), and prints the run's log and what is left of the installation.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" qtxClear boxclick >/dev/null
prefix="$root/build/demo-prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
"$root/scripts/wine-prefix.sh" up "$prefix"
trap '"$root/scripts/wine-prefix.sh" down "$prefix"' EXIT

echo "== simulated installation"
bash "$root/scripts/simulate-install.sh" "$prefix"

echo "== qtxClear.exe /verysilent /prod vhm /log C:\\qtxClear.log"
set +e
"$wine" "$root/build/x64/tests/tools/boxclick.exe" --answer no -- \
  "Z:$root/build/x64/qtxClear.exe" /verysilent /prod vhm /log 'C:\qtxClear.log'
code=$?
set -e
echo "exit code: $code"

echo "== log"
iconv -f UTF-16 -t UTF-8 "$prefix/drive_c/qtxClear.log" | tr -d '\r'

echo "== what is left"
bash "$root/scripts/simulate-install.sh" "$prefix" --report
