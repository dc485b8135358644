# The suite's services: own-process services that run the stand-in service program of the
# tests (a few of them started, so that the run has to stop them), and the two driver
# services of the services step as kernel-driver entries (never started: Wine would try to
# load their image).
# Sourced by simulate-install.sh with $mode = plant or report.
sc() { "$wine" sc "$@" </dev/null 2>/dev/null | tr -d '\r'; }
suite_services=("velko! Remote Install Service" "velko! Net Client Service" "velko! Mail Scanner"
  "velko! Firewall" "velko! Antivirus" "velko! Enterprise Client Service" "velkoWHSP" "VelkoWhsClient"
  "Velko.WHS.Provider.exe" "Velko.WHS.Client.exe")
suite_driver_services=(qtxRvrt qtxVmm)
started_services=("velko! Mail Scanner" "velko! Firewall" "velko! Antivirus")

if [ "$mode" = report ]; then
  for s in "${suite_services[@]}" "${suite_driver_services[@]}"; do
    if sc query "$s" | grep -q SERVICE_NAME; then echo "service present: $s"; else echo "service removed: $s"; fi
  done
  return 0
fi
standin="$here/../build/x64/tests/services/qtx_svc_standin.exe"
if [ -f "$standin" ]; then
  standin_win="Z:$(realpath "$standin")"
else
  standin_win='C:\windows\system32\svchost.exe'   # never started then
  started_services=()
fi
for s in "${suite_services[@]}"; do
  sc create "$s" binpath= "\"$standin_win\" pending 300" type= own start= demand >/dev/null
done
for s in "${suite_driver_services[@]}"; do
  sc create "$s" binpath= "system32\\drivers\\$s.sys" type= kernel start= demand >/dev/null
done
for s in "${started_services[@]}"; do sc start "$s" >/dev/null; done
echo "services ${#suite_services[@]} own-process (${#started_services[@]} running), ${#suite_driver_services[@]} driver entries"
