# The suite's registry entries outside services and drivers, its shortcuts and program groups,
# boot files, application-data, installer and sandbox folders and single files.
# Sourced by simulate-install.sh with $mode = plant or report.

sim40_classes='HKLM\Software\Classes'
sim40_cv='HKLM\Software\Microsoft\Windows\CurrentVersion'
sim40_shell="$sim40_cv\\Explorer\\Shell Folders"
sim40_task='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Schedule\TaskCache'
sim40_adblocker='C:\Program Files\VELKO Software\velko! Ad Blocker IE\'
sim40_keys=(
  'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.velkolic'
  'HKCU\Software\VELKO Software\Velko'
  'HKLM\Software\VELKO Software\Tunnelway'
  'HKLM\Software\VELKO Software\Velko Browser Cleanup'
  "$sim40_classes\\velko" "$sim40_classes\\.velkoconfig" "$sim40_classes\\.velkolic" "$sim40_classes\\.velkovpn"
  "$sim40_classes\\.velkosounds" "$sim40_classes\\.velkotheme" "$sim40_classes\\velkoconfigfile"
  "$sim40_classes\\velkolicfile" "$sim40_classes\\velkovpnfile" "$sim40_classes\\velkosoundsfile"
  "$sim40_classes\\velkothemefile"
  "$sim40_classes\\AllFilesystemObjects\\shellex\\ContextMenuHandlers\\00velko"
  'HKLM\Software\Microsoft\SystemCertificates\velko! Mail Scanner Cache'
  'HKLM\Software\Microsoft\SystemCertificates\velko! Mail Scanner Trusted'
  'HKLM\Software\Microsoft\Tracing\velko_RASAPI32'
  'HKLM\Software\Microsoft\Tracing\velko_RASMANCS'
  "$sim40_cv\\App Paths\\VelkoUI.exe"
  "$sim40_cv\\App Paths\\pmrVelko.exe"
  "$sim40_cv\\Explorer\\ShellIconOverlayIdentifiers\\00velko"
  'HKCR\AppID\{080F7E03-AC50-4949-AACA-E79F82D3099F}'
  'HKCR\AppID\VelkoGUIProxy.DLL'
  'HKCR\VelkoGUIProxy.GUIProxy' 'HKCR\VelkoGUIProxy.GUIProxy.1'
  'HKCR\VelkoGUIProxy.GUIProxyState' 'HKCR\VelkoGUIProxy.GUIProxyState.1'
  'HKCR\TypeLib\{5D605A2B-ACDE-49CD-9642-7B268923ACD9}'
  'HKCR\Installer\Products\B82B4B276FD996E4E9001FEE1500A1DD'
  'HKLM\Software\Google\Chrome\Extensions\mlcbgpekccokebfafkgegcfanihaiknk'
  "$sim40_cv\\Uninstall\\{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}"
  'HKLM\System\CurrentControlSet\Services\EventLog\Antivirus'
)
# The task's keys are deleted one by one, without subkeys.
sim40_task_keys=(
  "$sim40_task\\Tree\\velko! Emergency Update"
  "$sim40_task\\Tasks\\{7E1B3F0A-4C2D-4E5F-9A6B-0C1D2E3F4A5B}"
)
# KEY|VALUE pairs.
sim40_values=(
  'HKLM\Software\Google\No Drive Offer Until|VELKO Software'
  "$sim40_cv\\Run|VelkoUI.exe"
  "$sim40_cv\\Run|velko5" "$sim40_cv\\Run|velko"
  'HKCU\Software\Microsoft\Windows\CurrentVersion\Run|velko5'
  'HKCU\Software\Microsoft\Windows\CurrentVersion\Run|velko'
)
for sim40_sub in '' 'html\' 'html\static\' 'html\static\css\' 'html\static\img\' 'html\static\img\features\' \
  'html\static\js\' 'html\static\js\vendor\' 'html\templates\'; do
  sim40_values+=("$sim40_cv\\Installer\\Folders|$sim40_adblocker$sim40_sub")
done
sim40_editions=('velko! Lite Antivirus' 'velko! Plus Antivirus' 'velko! Max' 'velko! Harbor'
  'velko! Web Guard' 'velko! Office Shield' 'velko! Office Shield Extra' 'velko! Share Host Defence'
  'velko! Mail Host Defence' 'velko! Host Defence' 'velko! Office Shield Bundle'
  'velko! Office Shield Bundle Extra' 'velko! Company Guard Extra' 'velko! Share Host Scanner'
  'velko! Mail Host Scanner' 'velko! Host Scanner' 'velko! Host Company Guard'
  'velko! Host Company Guard Extra')

# A shell folder of the 64-bit view (where a fresh prefix keeps them).
sim40_shell_folder() {
  "$wine" reg query "$sim40_shell" /v "$1" /reg:64 </dev/null 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_SZ *//p"
}
sim40_programs=$(sim40_shell_folder 'Common Programs')
sim40_desktop=$(sim40_shell_folder 'Common Desktop')
sim40_common=$(sim40_shell_folder 'Common AppData')
sim40_appdata='C:\users\Public\qtxsim\AppData\Roaming'
sim40_files=(
  'C:\windows\system32\velkoss.scr' 'C:\windows\system32\qtxBoot.exe'
  'C:\windows\syswow64\velkoss.scr' 'C:\windows\syswow64\qtxBoot.exe'
  'C:\windows\velkoss.scr' 'C:\windows\syswow64\Tasks\velko! Emergency Update'
)
sim40_folders=(
  'C:\Program Files (x86)\VELKO Software\velko! Ad Blocker IE'
  "$sim40_appdata\\VELKO Software\\Velko"
  "$sim40_common\\VELKO Software\\Durable Store\\Velko"
  'C:\~VKINSTL' 'C:\velko! sandbox'
)
for sim40_e in Velko "${sim40_editions[@]}"; do sim40_folders+=("$sim40_programs\\$sim40_e"); done
for sim40_e in 'velko! Home Hub' "${sim40_editions[@]}"; do sim40_files+=("$sim40_desktop\\$sim40_e.lnk"); done

if [ "$mode" = report ]; then
  for k in "${sim40_keys[@]}" "${sim40_task_keys[@]}"; do report_key "$k"; done
  for kv in "${sim40_values[@]}"; do report_value "${kv%%|*}" "${kv#*|}"; done
  for f in "${sim40_folders[@]}" "$sim40_common\\VELKO Software"; do report_folder "$f"; done
  for f in "${sim40_files[@]}"; do report_file "$f"; done
  return 0
fi

# The 32-bit program reads the shell folders in its own view, which a fresh Wine prefix lacks
# (Windows has them there); and the user's roaming folder from the volatile environment.
reg add "$sim40_shell" /v 'Common Programs' /d "$sim40_programs" /f
reg add "$sim40_shell" /v 'Common Desktop' /d "$sim40_desktop" /f
reg add "$sim40_shell" /v 'Common AppData' /d "$sim40_common" /f
reg add 'HKCU\Volatile Environment' /v APPDATA /d "$sim40_appdata" /f
for k in "${sim40_keys[@]}"; do reg add "$k\\Sub" /v Planted /d 1 /f; done
for kv in "${sim40_values[@]}"; do reg add "${kv%%|*}" /v "${kv#*|}" /d 1 /f; done
reg add "$sim40_cv\\App Paths\\pmrVelko.exe" /v Path /d "$program" /f
reg add "${sim40_task_keys[1]}" /v Path /d '\velko! Emergency Update' /f
reg add "${sim40_task_keys[0]}" /v Id /d '{7E1B3F0A-4C2D-4E5F-9A6B-0C1D2E3F4A5B}' /f
for f in "${sim40_folders[@]}"; do
  d=$(unix "$f"); mkdir -p "$d"; echo planted >"$d/planted.txt"
done
for f in "${sim40_files[@]}"; do
  u=$(unix "$f"); mkdir -p "$(dirname "$u")"; echo planted >"$u"
done
echo "registry entries, $((${#sim40_editions[@]} + 1)) program groups and Desktop shortcuts and groups, boot files, application-data, installer and sandbox folders"
