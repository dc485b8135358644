# Sourced by tests/proof/run-proof.sh (mode whatif), with its plant, run, restart, down, expect.
judge="python3 $here/../whatif/judge.py"
locker="$build/tests/tools/benchwalk.exe"
[ "$bits" = 32 ] && locker="$build/tests/proof/i686/benchwalk.exe"
box_options=""
logged() { log_text "$prefix/drive_c/$1" | grep -c "$2"; }
unchanged() {  # unchanged WHAT SKIP...: the prefix's registry and files equal the "before" snapshot
  local what=$1; shift
  down "$prefix"
  $proof snapshot "$prefix" "$prefix/after.snap" "$@"
  $proof compare "$prefix/before.snap" "$prefix/after.snap" | tail -8 || { echo "FAIL: $what changed the machine"; fail=1; }
}

plant
down "$prefix"
echo "== /whatif on the planted installation"
$proof snapshot "$prefix" "$prefix/before.snap" 'C:\whatif.log' 'C:\whatif.json'
run "$exe" /whatif /unattended /prod vhm /log 'C:\whatif.log' /report 'C:\whatif.json' >"$prefix/whatif.out"
expect "/whatif exit code" "$code" 1
unchanged /whatif 'C:\whatif.log' 'C:\whatif.json'
$judge listing "$prefix" "$bits" "$prefix/drive_c/whatif.json" | tail -12 || { echo "FAIL: the listing is not the planting"; fail=1; }
# The listing on the redirected output (64-bit: the box tool's pipe; a 32-bit prefix's
# "start /wait" gives the program none) and in the log.
for listing in "$([ "$bits" = 64 ] && tr -d '\r' <"$prefix/whatif.out")" "$(log_text "$prefix/drive_c/whatif.log" | cut -f5-)"; do
  [ "$bits" = 32 ] && [ -z "$listing" ] && continue
  grep -q '^Step 4, drivers: [1-9]' <<<"$listing" && grep -q '^Self-protection: off' <<<"$listing" ||
    { echo "FAIL: no listing"; fail=1; }
done

# The held file lies in the setup folder at the root: the run may queue there (below the data
# folder's parents, which Wine reports as the user's, it queues nothing).
echo "== /unattended /report with a setup file held open"
rm -f "$prefix/drive_c/qtx-release"
WINEPREFIX="$prefix" "$wine" "$locker" lock 'C:\~VKINSTL' 'C:\qtx-release' 300 \
  </dev/null >"$prefix/locker.out" 2>&1 &
for _ in $(seq 100); do grep -q '^locked' "$prefix/locker.out" 2>/dev/null && break; sleep 0.2; done
expect "files held" "$(tr -d '\r' <"$prefix/locker.out")" "locked 1"
run "$exe" /unattended /prod vhm /log 'C:\qtxClear.log' /report 'C:\report.json' >/dev/null
expect "exit code" "$code" 3010
touch "$prefix/drive_c/qtx-release"; wait
down "$prefix"
expect "residue summary lines" "$(logged qtxClear.log 'Residue check: ')" 1
expect "items queued for the restart" "$(logged qtxClear.log '^.*Remains: .* - queued for the restart$')" \
  "$(logged qtxClear.log 'Remains: ')"
$proof verify "$prefix" "$bits" --log 'C:\qtxClear.log' >"$prefix/first.out"
$judge residue "$prefix/drive_c/report.json" "$prefix/first.out" || { echo "FAIL: the report is not what is left"; fail=1; }
python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); sys.exit(d["exitCode"] != 3010 or d["mode"] != "unattended")' \
  "$prefix/drive_c/report.json" || { echo "FAIL: report's exit code or mode"; fail=1; }

echo "== after the restart"
restart
$proof verify "$prefix" "$bits" --final --log 'C:\qtxClear.log' >"$prefix/final.out"
run "$exe" /whatif /unattended /prod vhm /report 'C:\after.json' >"$prefix/whatif-after.out"
$judge residue "$prefix/drive_c/after.json" "$prefix/final.out" || { echo "FAIL: /whatif after the restart"; fail=1; }
# What Wine leaves: the folder of a bystander link (measured: Wine deletes no link). A link goes
# by hand, as Windows' removal would take it; a second removal then takes the folder.
links=$(grep -c 'stays, holds a link' <($judge residue "$prefix/drive_c/after.json" "$prefix/final.out"))
expect "/whatif exit code after the restart" "$code" "$([ "$links" = 0 ] && echo 0 || echo 1)"
if [ "$links" != 0 ]; then
  find "$prefix/drive_c/~VKINSTL" -type l -delete
  run "$exe" /unattended /prod vhm /log 'C:\second.log' >/dev/null
  expect "second removal's exit code" "$code" 0
fi
run "$exe" /whatif /unattended /prod vhm /report 'C:\final.json' >"$prefix/whatif-after.out"
expect "/whatif exit code after the removal" "$code" 0
expect "items listed after the removal" "$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["remaining"]))' \
  "$prefix/drive_c/final.json")" 0
# An existing report file a standard user owns is not replaced (Wine reports every file as owned
# by the process's user): one log line, and unattended the documented code instead of 0.
run "$exe" /whatif /unattended /prod vhm /log 'C:\refused.log' /report 'C:\final.json' >/dev/null
expect "exit code, report not written" "$code" 29
down "$prefix"
expect "log line, report not written" \
  "$(logged refused.log 'Report C:\\final.json not written: it is not owned by Administrators or SYSTEM')" 1

echo "== /folder: a program folder without its keys"
pf='Program Files (x86)'; [ "$bits" = 32 ] && pf='Program Files'
half="C:\\$pf\\VELKO Software\\Velko Half"
halfdir="$prefix/drive_c/$pf/VELKO Software/Velko Half"
mkdir -p "$halfdir/Setup"
echo x >"$halfdir/qtxGui.exe"
echo x >"$halfdir/Setup/Setiface.dll"
# The 32-bit prefix's batch passes the arguments as they are: the value needs its quotes there.
[ "$bits" = 32 ] && half="\"$half\""
run "$exe" /unattended /folder "$half" /log 'C:\folder.log' >/dev/null
case "$code" in 0|3010) echo "ok: /folder exit code = $code" ;; *) expect "/folder exit code" "$code" "0 or 3010" ;; esac
down "$prefix"
[ ! -e "$halfdir" ] && echo "ok: the /folder folder is gone" ||
  { echo "FAIL: the /folder folder stays"; fail=1; }
expect "log names /folder" "$(logged folder.log '(from /folder; none detected)')" 1
run "$exe" /unattended /folder 'C:\Windows' /log 'C:\windows-folder.log' >/dev/null
down "$prefix"
expect "/folder C:\\Windows refused" "$(logged windows-folder.log 'Program folder refused: C:\\Windows')" 1
[ -f "$prefix/drive_c/windows/system32/kernel32.dll" ] || { echo "FAIL: the Windows folder was touched"; fail=1; }

echo "== a mistyped switch"
$proof snapshot "$prefix" "$prefix/before.snap" 'C:\typo.log'
run "$exe" /unattended /whatiff /log 'C:\typo.log' >/dev/null
expect "mistyped switch exit code" "$code" 87
unchanged "the mistyped switch" 'C:\typo.log'
expect "log names the switch" "$(logged typo.log 'Unknown switch: /whatiff')" 1
