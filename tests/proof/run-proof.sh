#!/usr/bin/env bash
# The full proof with the shipped program, in a fresh prefix of its own:
#   run-proof.sh BITS MODE BUILD QTXCLEAR.EXE
# BITS 64: 64-bit Windows (the 32-bit program under WOW64); 32: 32-bit Windows.
# MODE
#   unattended    plant, run "/unattended", restart, require 0 left and 0 harmed; a second run
#                 after the restart ends with 0 and brings nothing back
#   verysilent    the same with "/verysilent" (the Safe-Mode offer declined), 64-bit only
#   interactive   the same through the dialog: Uninstall pressed, the folder confirmed, 64-bit only
#   clean         a machine without the suite: exit 0, registry and files the same before and after
#   wow64         the x86_64 twin and the shipped program on the same planting: logs equal line
#                 for line but the memory figures, and the same verdict on every row, 64-bit only
#   whatif        /whatif on the planting (exact list, nothing changed, exit 1), an unattended run
#                 with a held file and /report (residue lines, 3010, the report against the
#                 verifier), /whatif after the restart (exit 0), /folder, strict switches
#   template      boots the prefix every other mode starts from as a copy (one boot per BITS)
#   demo          the main job: plant, "/verysilent" (the Safe-Mode offer declined), restart, one
#                 table of the verifier's verdicts; with the x86_64 twin where 32-bit cannot run
# Exit 77 (skipped) with one line when this machine cannot run 32-bit programs.
set -u
bits=${1:?64|32}; mode=${2:?mode}; build=$(realpath "${3:?build folder}"); exe=$(realpath "${4:?qtxClear.exe}")
here=$(cd "$(dirname "$0")" && pwd)
proof="python3 $here/proof.py"
prefix="$build/proof-$bits-$mode"
template="$build/proof-template-$bits"
boxclick="$build/tests/tools/boxclick.exe"
twin="$build/qtxClear.exe"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$bits" = 64 ]; then wine=/usr/lib/wine/wine64; else wine=/usr/lib/wine/wine; export WINEARCH=win32; fi
server=/usr/lib/wine/wineserver64

if ! bash "$here/../../scripts/can-run-32bit.sh"; then
  [ "$mode" = demo ] && [ "$bits" = 64 ] || exit 77
  exe=$twin
fi

make_template() {
  local keep="" flag=""
  [ "${QTX_KEEP_PREFIX:-}" = ON ] && keep=--keep
  [ "$bits" = 32 ] && flag=--win32
  bash "$here/../../scripts/wine-prefix.sh" up "$template" $keep $flag || { echo "FAIL: no prefix"; exit 1; }
  down "$template"
}
# up PREFIX: a fresh copy of the booted template, its server started.
up() {
  [ -f "$template/system.reg" ] || make_template
  $proof clone "$template" "$1" && bash "$here/../../scripts/wine-prefix.sh" up "$1" --keep ||
    { echo "FAIL: no prefix"; exit 1; }
}
down() { WINEPREFIX="$1" "$server" -k >/dev/null 2>&1; WINEPREFIX="$1" "$server" -w >/dev/null 2>&1; }
# Windows' own restart: the pending deletions are carried out by the boot.
restart() {
  down "$prefix"
  WINEPREFIX="$prefix" "$wine" wineboot --restart </dev/null >/dev/null 2>&1
  down "$prefix"
}
fail=0
expect() {  # expect WHAT GOT WANTED
  if [ "$2" = "$3" ]; then echo "ok: $1 = $2"; else echo "FAIL: $1 = $2, expected $3"; fail=1; fi
}

# run PROGRAM ARGS...: runs it in the prefix, sets $code to its whole exit code (boxclick reads
# it with GetExitCodeProcess; in a 32-bit prefix "start /wait" in a batch gives cmd the code).
run() {
  local program=$1; shift
  if [ "$bits" = 64 ]; then
    WINEPREFIX="$prefix" timeout 300 "$wine" "$boxclick" $box_options -- "Z:$program" "$@" </dev/null \
      >"$prefix/run.out" 2>&1
    code=$(tr -d '\r' <"$prefix/run.out" | sed -n 's/^\[exit\] //p')
  else
    printf '@echo off\r\nstart /wait Z:%s %s\r\necho exit code %%errorlevel%%\r\n' "$(tr / '\\' <<<"$program")" "$*" \
      >"$prefix/drive_c/qtx-run.cmd"
    WINEPREFIX="$prefix" timeout 300 "$wine" cmd /c 'C:\qtx-run.cmd' </dev/null >"$prefix/run.out" 2>&1
    code=$(tr -d '\r' <"$prefix/run.out" | sed -n 's/^exit code //p')
    rm -f "$prefix/drive_c/qtx-run.cmd"
  fi
  tr -d '\r' <"$prefix/run.out"
}

plant() {
  up "$prefix"
  $proof plant "$prefix" "$bits" "$build/tests" || exit 1
  $proof check "$prefix" "$bits" >"$prefix/check.out" || { cat "$prefix/check.out"; echo "FAIL: planting"; exit 1; }
  $proof start "$prefix" "$bits"
}

log_text() { iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r'; }

case "$mode" in
template)
  make_template
  echo "template prefix ready: $template"
  exit 0 ;;
demo)
  echo "== planting a complete installation and its bystanders into $prefix"
  plant
  echo "== $(basename "$(dirname "$exe")")/qtxClear.exe /verysilent /prod vhm /log C:\qtxClear.log"
  box_options="--answer no"
  run "$exe" /verysilent /prod vhm /log 'C:\qtxClear.log' >/dev/null
  tr -d '\r' <"$prefix/run.out" | grep '^\[box\]'
  echo "exit code: $code"
  down "$prefix"
  $proof verify "$prefix" "$bits" --log 'C:\qtxClear.log' >"$prefix/first.out"
  echo "== restarting the prefix (the queued deletions are carried out)"
  restart
  $proof verify "$prefix" "$bits" --final --log 'C:\qtxClear.log' >"$prefix/final.out"
  echo "== what was planted and what became of it (read from the prefix's hives and folders)"
  $proof table "$prefix/first.out" "$prefix/final.out" || fail=1
  refused=$(grep -c $'^refused\t' "$prefix/final.out")
  [ "$refused" = 0 ] || echo "refused: $refused module registrations, as the log says: the program loads nothing from" \
    "a suite folder Wine reports as owned by the user (a real installation's folders belong to Administrators)"
  grep $'^left\t\|^harmed\t' "$prefix/final.out"
  echo "the run's log: $prefix/drive_c/qtxClear.log (UTF-16); row by row: $prefix/final.out"
  exit $fail ;;
unattended|verysilent|interactive)
  plant
  case "$mode" in
    unattended) box_options=""; want=3010; run "$exe" /unattended /prod vhm /log 'C:\qtxClear.log' ;;
    verysilent) box_options="--answer no"; want=0; run "$exe" /verysilent /prod vhm /log 'C:\qtxClear.log' ;;
    interactive)
      # Safe Mode: No; the program folder's emptying: Yes; the restart offer: No.
      box_options="--dialog 1 --answer no --answer yes --answer no"; want=0
      run "$exe" /log 'C:\qtxClear.log'
      grep -q '^\[dialog\] product 1:' "$prefix/run.out" || { echo "FAIL: the list did not open on the home edition"; fail=1; } ;;
  esac
  expect "exit code" "$code" "$want"
  down "$prefix"
  echo "== before the restart"
  $proof verify "$prefix" "$bits" --log 'C:\qtxClear.log' | grep -v $'^removed\t\|^kept\t\|^restored\t'
  restart
  echo "== after the restart"
  $proof verify "$prefix" "$bits" --final --log 'C:\qtxClear.log' >"$prefix/final.out"
  status=$?
  grep -v $'^removed\t\|^kept\t\|^restored\t' "$prefix/final.out"
  [ $status -eq 0 ] || { echo "FAIL: something is left or harmed"; fail=1; }
  echo "== a second run after the restart"
  $proof snapshot "$prefix" "$prefix/before.snap" 'C:\qtxClear2.log'
  box_options="--answer no"
  run "$exe" /unattended /prod vhm /log 'C:\qtxClear2.log' >/dev/null
  # 3010 when a folder holding a link stays (Wine cannot delete a link) and is queued again.
  case "$code" in 0|3010) echo "ok: second run's exit code = $code" ;; *) expect "second run's exit code" "$code" "0 or 3010" ;; esac
  down "$prefix"
  $proof snapshot "$prefix" "$prefix/after.snap" 'C:\qtxClear2.log'
  $proof compare "$prefix/before.snap" "$prefix/after.snap" | tail -20 || { echo "FAIL: the second run changed the machine"; fail=1; }
  ;;
clean)
  up "$prefix"
  down "$prefix"
  $proof snapshot "$prefix" "$prefix/before.snap" 'C:\qtxClear.log'
  box_options=""
  run "$exe" /unattended /log 'C:\qtxClear.log' >/dev/null
  expect "exit code" "$code" 0
  down "$prefix"
  $proof snapshot "$prefix" "$prefix/after.snap" 'C:\qtxClear.log'
  $proof compare "$prefix/before.snap" "$prefix/after.snap" | tail -30 || { echo "FAIL: the run changed a machine without the suite"; fail=1; }
  ;;
wow64)
  [ "$bits" = 64 ] || { echo "wow64: 64-bit Windows only"; exit 2; }
  box_options=""; shipped_failed=0
  for program in "$exe" "$twin"; do
    name=$(basename "$(dirname "$program")")
    plant
    run "$program" /unattended /prod vhm /log 'C:\qtxClear.log' >/dev/null
    echo "$name: exit code $code"
    echo "$code" >"$build/proof-wow64-$name.code"
    down "$prefix"
    # The memory figures, the clock and the prefix's random identifiers differ between runs, and
    # so does how often a stopping service is polled: a repeated line counts once.
    log_text "$prefix/drive_c/qtxClear.log" | cut -f4- |
      sed -e '/^system\tMemory: /d' -e 's/[0-9a-f]\{8\}-[0-9a-f]\{4\}-[0-9a-f]\{4\}-[0-9a-f]\{4\}-[0-9a-f]\{12\}/GUID/g' |
      uniq >"$build/proof-wow64-$name.log"
    # What each build did to the machine, row by row: the twin must leave what the program leaves.
    $proof verify "$prefix" "$bits" --log 'C:\qtxClear.log' >"$build/proof-wow64-$name.verdict" ||
      { [ "$name" = i686 ] && shipped_failed=1; }
    echo "$name: $(grep '^summary' "$build/proof-wow64-$name.verdict")"
  done
  expect "the twin's exit code" "$(cat "$build/proof-wow64-x64.code")" "$(cat "$build/proof-wow64-i686.code")"
  if diff "$build/proof-wow64-i686.log" "$build/proof-wow64-x64.log" >"$build/proof-wow64.diff"; then
    echo "ok: the two logs are equal, $(wc -l <"$build/proof-wow64-x64.log") lines"
  else
    echo "FAIL: the logs differ:"; head -40 "$build/proof-wow64.diff"; fail=1
  fi
  if diff "$build/proof-wow64-i686.verdict" "$build/proof-wow64-x64.verdict" >"$build/proof-wow64-verdict.diff"; then
    echo "ok: the same verdict on all $(grep -vc '^summary' "$build/proof-wow64-x64.verdict") rows"
  else
    echo "FAIL: the builds left the machine differently:"; head -40 "$build/proof-wow64-verdict.diff"; fail=1
  fi
  # The shipped program's verdict, so that equal logs of two equally wrong runs do not pass.
  [ $shipped_failed = 0 ] ||
    { echo "FAIL: the shipped program left or harmed something:"; grep $'^left\t\|^harmed\t' "$build/proof-wow64-i686.verdict"; fail=1; }
  ;;
whatif)
  # The dry run, the residue check, the report, /folder and strict switches on one planting.
  . "$here/../whatif/whatif-steps.sh" ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
down "$prefix"
[ $fail -eq 0 ] && echo "proof $bits $mode passed"
exit $fail
