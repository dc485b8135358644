# The server add-in file, the suite's leftover COM class key and the sidebar gadget folder.
# (Module registrations, browser plug-ins and Security Center entries belong to components
# of the suite that a simulated installation does not have.)
# Sourced by simulate-install.sh with $mode = plant or report.
addin='C:\Program Files\Windows Server\Bin\Addins\Primary\VelkoWhsAddinConfig.addin'
classkey='HKCR\CLSID\{B71D40E2-6C95-4A3F-8E08-2F5D9C1A7B63}'
gadget='C:\Program Files\Windows Sidebar\Shared Gadgets\qtxSidebar.gadget'
if [ "$mode" = report ]; then
  report_file "$addin"
  report_key "$classkey"
  report_folder "$gadget"
  return 0
fi
a=$(unix "$addin"); g=$(unix "$gadget")
mkdir -p "$(dirname "$a")" "$g/images"
echo "<addin/>" >"$a"
echo "<gadget/>" >"$g/gadget.xml"
echo "stand-in" >"$g/images/icon.png"
reg add "$classkey\InprocServer32" /ve /d "$program\\qtxSiteRankIE.dll" /f
echo "server add-in $addin, class key $classkey, gadget folder $gadget"
