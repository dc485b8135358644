#!/usr/bin/env bash
# The shipped program under each Windows version Wine claims for it (Wine's per-program
# AppDefaults\qtxClear.exe\Version), on the rows of versions.tsv for this prefix's kind:
# started as an administrator starts it, the Safe-Mode offer answered Yes twice. Checks the
# version line of its log and the Safe-Mode method it took: the boot tool in the native system
# folder (bcdedit.exe, a stand-in recording its command line) or the boot.ini entry, and that
# the RunOnce entry (the program's own, 32-bit view) names the self-copy, which exists.
#   run-versions.sh BITS VERSIONS.TSV QTXCLEAR.EXE BOXCLICK.EXE BOOTCMD.EXE
# Run by run-32bit-suite.sh in a prefix of its own (WINEPREFIX).
set -u
bits=$1; table=$2; exe=$3; boxclick=$4; bootcmd=$5
wine=/usr/lib/wine/wine
c="$WINEPREFIX/drive_c"
app='HKCU\Software\Wine\AppDefaults\qtxClear.exe'
runonce='HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce'
entry='multi(0)disk(0)rdisk(0)partition(1)\WINDOWS'
# The boot tool lives in the native system folder only; the program must reach it there.
cp "$bootcmd" "$c/windows/system32/bcdedit.exe"
fail=0; rows=0
utf8() { iconv -f UTF-16 -t UTF-8 "$1" 2>/dev/null | tr -d '\r'; }
product='HKLM\Software\Velko Software\Velko'
# refused FOLDER: a very silent run with FOLDER as the program folder logs that it refused it.
refused() {
  local view=""
  [ "$bits" = 64 ] && view=/reg:32
  "$wine" reg add "$product" /v Product /d vhm /f $view >/dev/null 2>&1
  "$wine" reg add "$product" /v ProgramFolder /d "$1" /f $view >/dev/null 2>&1
  rm -f "$c/qtx-rule.log"
  timeout 120 "$wine" "$boxclick" --answer no -- "Z:$exe" /verysilent /prod vhm /log 'C:\qtx-rule.log' >/dev/null 2>&1
  utf8 "$c/qtx-rule.log" | grep -qF "Program folder refused: $1"
}
while IFS=$'\t' read -r row_bits version pattern method rule; do
  case "$row_bits" in "#"*|"") continue ;; esac
  [ "$row_bits" = "$bits" ] || continue
  rows=$((rows + 1))
  "$wine" reg add "$app" /v Version /d "$version" /f >/dev/null 2>&1
  printf '[boot loader]\r\ntimeout=30\r\ndefault=%s\r\n[operating systems]\r\n%s="Windows" /fastdetect\r\n' \
    "$entry" "$entry" >"$c/boot.ini"
  rm -f "$c/qtx-bootcmd.txt" "$c/qtx-versions.log"
  timeout 120 "$wine" "$boxclick" --answer yes --answer yes -- "Z:$exe" /log 'C:\qtx-versions.log' \
    >"$c/qtx-run.out" 2>&1
  os=$(utf8 "$c/qtx-versions.log" | grep -o 'Operating system: [^	]*' | head -1)
  bcd=$(utf8 "$c/qtx-bootcmd.txt" | sed 's/^.*bcdedit.exe" *//I; s/^.*bcdedit.exe *//I')
  ini=$(tr -d '\r' <"$c/boot.ini" | grep -c 'safeboot:minimal')
  copy=$("$wine" reg query "$runonce" /v '*qtxClear' /reg:32 2>/dev/null | tr -d '\r' |
         sed -n 's/^ *\*qtxClear *REG_SZ *"C:\\\(.*\)"$/\1/p' | tr '\\' /)
  # Windows names are matched without regard to case; the prefix's folders are Unix ones.
  if [ -n "$copy" ] && [ -n "$(find "$c/windows" -ipath "$c/$copy" -type f 2>/dev/null)" ]; then got_copy=ok; else got_copy="no copy named by RunOnce ('$copy')"; fi
  "$wine" reg delete "$runonce" /v '*qtxClear' /f /reg:32 >/dev/null 2>&1
  case "$method" in
    bcdedit) [ "$bcd" = "/set safeboot minimal" ] && [ "$ini" = 0 ] && got=$method || got="bcdedit '$bcd', boot.ini $ini" ;;
    boot.ini) [ -z "$bcd" ] && [ "$ini" = 1 ] && got=$method || got="bcdedit '$bcd', boot.ini $ini" ;;
  esac
  got_rule=ok
  if [ "$rule" = rule ]; then
    for folder in 'C:\WINDOWS\TEMP' 'c:\PROGRAM FILES'; do
      refused "$folder" || got_rule="program folder $folder not refused"
    done
  fi
  if [[ "$os" =~ ^$pattern$ ]] && [ "$got" = "$method" ] && [ "$got_copy" = ok ] && [ "$got_rule" = ok ]; then
    echo "ok: $version: $os; $method; RunOnce names $copy$([ "$rule" = rule ] && echo "; folder rule holds")"
  else
    echo "FAIL: $version: '$os' (wanted $pattern); Safe-Mode method: $got (wanted $method); $got_copy; $got_rule"
    tr -d '\r' <"$c/qtx-run.out"
    fail=1
  fi
done <"$table"
[ "$rows" -gt 0 ] || { echo "FAIL: no rows for $bits"; fail=1; }
exit $fail
