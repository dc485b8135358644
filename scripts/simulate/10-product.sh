# The product key, its uninstall registration, the program and data folders.
# Sourced by simulate-install.sh with $mode = plant or report.
if [ "$mode" = report ]; then
  report_key "$product"
  report_key "$uninstall"
  report_key 'HKCR\VelkoPersistentStorage'
  report_folder "$program"
  report_folder "$data"
  return 0
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
