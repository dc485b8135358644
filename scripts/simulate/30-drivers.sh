# Real-time protection drivers and filters: driver files in the native and the 32-bit system
# folder, driver services (created with the service manager, never started) with their groups
# and load-order tags, the keyboard class filter, the VDD entry and config.nt line, mail-client
# hooks, the script scanner's registrations (machine classes and the default profile) and a
# script engine's saved server. Sourced by simulate-install.sh with $mode = plant or report.
drivers_services='qtxTdi qtxNet qtxKbd qtxFW qtxNdisR qtxRoot qtxNdis qtxNdisFlt qtxStm Krovker4 qtxmon qtxmon2 qtxmonflt qtxRdr qtxSnx tap0901'
drivers_native='krovker4 qtxmon2 qtxtdi qtxmonflt qtxRdr qtxRdr2 qtxSnx qtxnet qtxKbd qtxNdis qtxNdis2 qtxNdis2k qtxNdisFlt qtxNdisR qtxFW qtxVmm qtxRvrt qtxRoot qtxStm qtxSP qtxFsBlk'
drivers_wow64='qtxKbd qtxNdisR qtxRoot qtxmon'
drivers_svc='HKLM\SYSTEM\CurrentControlSet\Services'
drivers_kbd='HKLM\SYSTEM\ControlSet001\Control\Class\{4D36E96B-E325-11CE-BFC1-08002BE10318}'
drivers_order='HKLM\SYSTEM\CurrentControlSet\Control\GroupOrderList'
drivers_vdd='HKLM\SYSTEM\CurrentControlSet\Control\VirtualDeviceDrivers'
drivers_exchange='HKLM\SOFTWARE\Microsoft\Exchange\Client\Extensions'
drivers_run='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
drivers_engine='HKLM\SOFTWARE\Classes\CLSID\{f414c260-6ac0-11cf-b6d1-00aa00bbbb58}\InprocServer32'
drivers_scanner='VkAScr.sbScanner VkAScr.sbScanner.1 CLSID\{3C61A0E5-7D24-4B9F-9E13-5A8D2F6B0C47} AppID\VkAScr.DLL'

if [ "$mode" = report ]; then
  for f in $drivers_native; do report_file "C:\\windows\\system32\\drivers\\$f.sys"; done
  for f in $drivers_wow64; do report_file "C:\\windows\\syswow64\\drivers\\$f.sys"; done
  for s in $drivers_services qtxSP qtxFsBlk; do report_key "$drivers_svc\\$s" 64; done
  report_key "$drivers_svc\\qtxForeignDrv" 64
  report_value "$drivers_order" QtxFilters 64
  "$wine" reg query "$drivers_order" /v QtxFilters /reg:64 2>/dev/null | tr -d '\r' | grep QtxFilters |
    sed 's/^ */group order list (tags 1, 2, 3, 4 planted; 3 foreign): /'
  "$wine" reg query "$drivers_kbd" /v UpperFilters /reg:64 2>/dev/null | tr -d '\r' | grep UpperFilters |
    sed 's/^ */keyboard class filters (planted qtxKbd\\0kbdclass): /'
  "$wine" reg query "$drivers_vdd" /v VDD /reg:64 2>/dev/null | tr -d '\r' | grep VDD | sed 's/^ */VDD list: /'
  if grep -qi qtxmonds "$(unix 'C:\windows\syswow64\config.nt')" 2>/dev/null; then
    echo "config.nt:     still names qtxmonds.sys"
  else
    echo "config.nt:     qtxmonds.sys line removed"
  fi
  report_value "$drivers_exchange" 'velko!'
  report_value "$drivers_run" velko5
  for k in $drivers_scanner; do report_key "HKCR\\$k"; done
  report_key 'HKU\.DEFAULT\AppEvents\Schemes\Apps\Velko' 64
  report_value "$drivers_engine" 'Default Engine'
  return 0
fi

sys64=$(unix 'C:\windows\system32\drivers'); sys32=$(unix 'C:\windows\syswow64\drivers')
mkdir -p "$sys64" "$sys32"
for f in $drivers_native; do echo "stand-in driver $f" >"$sys64/$f.sys"; done
for f in $drivers_wow64; do echo "stand-in driver $f" >"$sys32/$f.sys"; done
echo "foreign driver" >"$sys64/qtxForeign.sys"
# Driver services through the service manager; tags 1, 2 and 4 in the suite's group, 3 foreign.
for s in $drivers_services qtxForeignDrv; do
  "$wine" sc create "$s" type= kernel start= demand binpath= "system32\\drivers\\$s.sys" </dev/null >/dev/null 2>&1
done
tag=1
for s in qtxTdi qtxKbd qtxForeignDrv qtxNdis; do
  reg64 add "$drivers_svc\\$s" /v Group /d QtxFilters /f
  reg64 add "$drivers_svc\\$s" /v Tag /t REG_DWORD /d $tag /f
  tag=$((tag + 1))
done
reg64 add "$drivers_order" /v QtxFilters /t REG_BINARY /d 0400000001000000020000000300000004000000 /f
# The self-protection and file-blocking drivers have keys but are not asked for by name.
reg64 add "$drivers_svc\\qtxSP" /v Type /t REG_DWORD /d 1 /f
reg64 add "$drivers_svc\\qtxFsBlk" /v Type /t REG_DWORD /d 1 /f
reg64 add "$drivers_kbd" /v UpperFilters /t REG_MULTI_SZ /d 'qtxKbd\0kbdclass' /f
reg64 add "$drivers_vdd" /v VDD /t REG_MULTI_SZ /d "$program\\qtxMonVd.dll\\0C:\\windows\\system32\\other.dll" /f
printf 'dosonly\r\ndevice=%%SystemRoot%%\\system32\\qtxmonds.sys\r\nfiles=40\r\n' >"$(unix 'C:\windows\syswow64\config.nt')"
reg add "$drivers_exchange" /v 'velko!' /d 'C:\stand-in.dll' /f
reg add "$drivers_run" /v velko5 /d "\"$program\\qtxGui.exe\" /tray" /f
for k in $drivers_scanner; do reg add "HKCR\\$k" /ve /d 'velko! script scanner' /f; done
reg64 add 'HKU\.DEFAULT\AppEvents\Schemes\Apps\Velko' /ve /d velko /f
# The scanner saved the JScript engine's server; saving the one there keeps the prefix's engine.
engine=$("$wine" reg query "$drivers_engine" /ve /reg:32 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_[A-Z_]*SZ *//p' | head -1)
reg add "$drivers_engine" /v 'Default Engine' /d "${engine:-C:\\windows\\system32\\jscript.dll}" /f
echo "drivers: $(echo $drivers_native | wc -w) native and $(echo $drivers_wow64 | wc -w) 32-bit driver files," \
  "$(echo $drivers_services | wc -w) driver services with tags, keyboard filter, VDD, config.nt, script scanner"
