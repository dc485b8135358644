#!/usr/bin/env bash
# Lays a simulated installation of the suite into a Wine prefix (keys in the 32-bit registry
# view, as the suite's 32-bit installer writes them), or with --report tells what of it is left.
#   simulate-install.sh PREFIX [--report]
set -u
export WINEPREFIX=$(realpath -m "${1:?prefix}") WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
reg() { "$wine" reg "$@" /reg:32 </dev/null >/dev/null 2>&1; }
program='C:\Program Files (x86)\VELKO Software\Velko'
data='C:\ProgramData\VELKO Software\Velko'
product='HKLM\Software\Velko Software\Velko'
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\velko'
unix() { "$wine" winepath -u "$1" 2>/dev/null; }

if [ "${2:-}" = "--report" ]; then
  for key in "$product" "$uninstall" 'HKCR\VelkoPersistentStorage'; do
    if reg query "$key"; then echo "key present:   $key"; else echo "key removed:   $key"; fi
  done
  for dir in "$program" "$data"; do
    d=$(unix "$dir")
    if [ -d "$d" ]; then echo "folder present: $dir ($(find "$d" -type f | wc -l) files)"; else echo "folder removed: $dir"; fi
  done
  exit 0
fi

p=$(unix "$program"); d=$(unix "$data")
mkdir -p "$p/Setup" "$d/DATA"
for f in qtxGui.exe qtxBase.dll pmrBase.dll Setup/Setiface.dll; do echo "stand-in $f" >"$p/$f"; done
echo "settings" >"$d/DATA/settings.ini"
reg add "$product" /v Product /d vhm /f
reg add "$product" /v Version /d 9.0.1 /f
reg add "$product" /v ProgramFolder /d "$program" /f
reg add "$product" /v DataFolder /d "$data" /f
reg add "$uninstall" /v InstallLocation /d "$program" /f
reg add "$uninstall" /v DisplayName /d "velko! Antivirus" /f
echo "program folder $program, data folder $data, product key $product, uninstall key $uninstall"
