# The suite's services: own-process services that run the stand-in service program of the
# tests (a few of them started, so that the run has to stop them), and the two driver
# services of the services step as kernel-driver entries (never started: Wine would try to
# load their image). Every sc command goes into one batch file, run by one cmd process.
# Sourced by simulate-install.sh with $mode = plant or report.
suite_services=("velko! Remote Install Service" "velko! Net Client Service" "velko! Mail Scanner"
  "velko! Firewall" "velko! Antivirus" "velko! Enterprise Client Service" "velkoWHSP" "VelkoWhsClient"
  "Velko.WHS.Provider.exe" "Velko.WHS.Client.exe")
suite_driver_services=(qtxRvrt qtxVmm)
started_services=("velko! Mail Scanner" "velko! Firewall" "velko! Antivirus")
services_batch="$(unix 'C:\windows\temp')/qtx-services.cmd"
run_services_batch() {
  printf '%s\r\n' "$@" >"$services_batch"
  "$wine" cmd /c 'C:\windows\temp\qtx-services.cmd' </dev/null 2>/dev/null | tr -d '\r'
  rm -f "$services_batch"
}

if [ "$mode" = report ]; then
  lines=("@echo off")
  for s in "${suite_services[@]}" "${suite_driver_services[@]}"; do
    lines+=("echo ==$s" "sc query \"$s\"")
  done
  run_services_batch "${lines[@]}" | awk '
    /^==/ { if (name != "") print (seen ? "service present: " : "service removed: ") name; name = substr($0, 3); seen = 0; next }
    /SERVICE_NAME/ { seen = 1 }
    END { if (name != "") print (seen ? "service present: " : "service removed: ") name }'
  return 0
fi
standin="$here/../build/x64/tests/services/qtx_svc_standin.exe"
if [ -f "$standin" ]; then
  standin_win="Z:$(realpath "$standin" | tr / '\\')"
else
  standin_win='C:\windows\system32\svchost.exe'   # never started then
  started_services=()
fi
lines=("@echo off")
for s in "${suite_services[@]}"; do
  lines+=("sc create \"$s\" binpath= \"\\\"$standin_win\\\" pending 300\" type= own start= demand >nul")
done
for s in "${suite_driver_services[@]}"; do
  lines+=("sc create \"$s\" binpath= \"system32\\drivers\\$s.sys\" type= kernel start= demand >nul")
done
for s in "${started_services[@]}"; do lines+=("sc start \"$s\" >nul"); done
run_services_batch "${lines[@]}"
echo "services: ${#suite_services[@]} own-process (${#started_services[@]} running), ${#suite_driver_services[@]} driver entries"
