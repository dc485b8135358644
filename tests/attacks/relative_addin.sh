#!/usr/bin/env bash
# The home-server add-in on 32-bit Windows, where "%ProgramW6432%" is not defined: the
# administrator starts the program from a folder in which a standard user has made a folder of
# that very name, a link to another folder holding a file where the add-in's would be. The
# run must leave that file, skip the path with one line, and end.
#   relative_addin.sh PREFIX QTXCLEAR.EXE   (a 32-bit prefix of its own; exit 77 = skipped
#                                            where this machine cannot run 32-bit programs)
set -u
prefix=$(realpath -m "${1:?prefix}"); exe=$(realpath "${2:?qtxClear.exe}")
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/../../scripts/can-run-32bit.sh" || exit 77
bash "$here/../../scripts/wine-prefix.sh" up "$prefix" --win32 || { echo "FAIL: no prefix"; exit 1; }
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
drive=$prefix/drive_c
victim="$drive/victim/Windows Server/Bin/Addins/Primary/VelkoWhsAddinConfig.addin"
mkdir -p "$(dirname "$victim")" "$drive/start"
echo "a file of someone else" >"$victim"
ln -s "$drive/victim" "$drive/start/%ProgramW6432%"
cp "$exe" "$drive/start/qtxClear.exe"
# Wine makes the Unix current folder the program's current folder.
(cd "$drive/start" && timeout 120 /usr/lib/wine/wine 'C:\start\qtxClear.exe' /unattended /noreboot /log 'C:\addin.log' \
  </dev/null >/dev/null 2>&1)
rc=$?
bash "$here/../../scripts/wine-prefix.sh" down "$prefix"
fail=0
[ $rc -ne 124 ] || { echo "FAIL: the run did not end"; fail=1; }
[ "$(cat "$victim" 2>/dev/null)" = "a file of someone else" ] || { echo "FAIL: the file behind the link was deleted"; fail=1; }
line="Unable to expand the path to WHS 2011 server addin '%ProgramW6432%\\Windows Server\\Bin\\Addins\\Primary\\VelkoWhsAddinConfig.addin'!"
count=$(iconv -f UTF-16 -t UTF-8 "$drive/addin.log" 2>/dev/null | tr -d '\r' | cut -f4- | grep -cxF "system	$line")
[ "$count" = 1 ] || { echo "FAIL: the skip was logged $count times, not once: $line"; fail=1; }
[ $fail -eq 0 ] && echo "ok: the file behind the link is kept, the path skipped once, the run ended (exit $rc)"
exit $fail
