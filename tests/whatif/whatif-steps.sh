# Sourced by tests/proof/run-proof.sh (mode whatif): its plant, run, restart, down and expect.
judge="python3 $here/../whatif/judge.py"
plant
down "$prefix"
$proof snapshot "$prefix" "$prefix/before.snap" 'C:\whatif.log'
box_options=""
run "$exe" /whatif /unattended /prod vhm /log 'C:\whatif.log' /report 'C:\whatif.json' >"$prefix/whatif.out"
expect "/whatif exit code" "$code" 1
down "$prefix"
$proof snapshot "$prefix" "$prefix/after.snap" 'C:\whatif.log'
