#!/usr/bin/env bash
# Lays a simulated installation of the suite into a Wine prefix (keys in the 32-bit registry
# view, as the suite's 32-bit installer writes them), or with --report tells what of it is left.
#   simulate-install.sh PREFIX [--report]
# Each area of the installation is one file in scripts/simulate/, sourced in name order with
# $mode set to "plant" or "report"; the helpers below are theirs to use.
set -u
export WINEPREFIX=$(realpath -m "${1:?prefix}") WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
here=$(cd "$(dirname "$0")" && pwd)
mode=plant
[ "${2:-}" = "--report" ] && mode=report

reg() { "$wine" reg "$@" /reg:32 </dev/null >/dev/null 2>&1; }    # 32-bit view
reg64() { "$wine" reg "$@" /reg:64 </dev/null >/dev/null 2>&1; }  # 64-bit view
unix() { "$wine" winepath -u "$1" 2>/dev/null; }
# report_key KEY [64]: whether a key is left (32-bit view unless 64 is given).
report_key() {
  local q=reg; [ "${2:-}" = 64 ] && q=reg64
  if $q query "$1"; then echo "key present:   $1"; else echo "key removed:   $1"; fi
}
# report_value KEY VALUE [64]
report_value() {
  local q=reg; [ "${3:-}" = 64 ] && q=reg64
  if $q query "$1" /v "$2"; then echo "value present: $1 [$2]"; else echo "value removed: $1 [$2]"; fi
}
# report_folder WINDOWS-PATH, report_file WINDOWS-PATH
report_folder() {
  local d; d=$(unix "$1")
  if [ -d "$d" ]; then echo "folder present: $1 ($(find "$d" -type f | wc -l) files)"; else echo "folder removed: $1"; fi
}
report_file() {
  local f; f=$(unix "$1")
  if [ -e "$f" ]; then echo "file present:  $1"; else echo "file removed:  $1"; fi
}

program='C:\Program Files (x86)\VELKO Software\Velko'
data='C:\ProgramData\VELKO Software\Velko'
product='HKLM\Software\Velko Software\Velko'
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\velko'

for part in "$here"/simulate/*.sh; do
  # shellcheck disable=SC1090
  . "$part"
done
