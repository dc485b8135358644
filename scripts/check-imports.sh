#!/usr/bin/env bash
# Checks the built 32-bit product: a 32-bit GUI program that Windows XP can start, statically
# linked, asking for administrator rights, importing only Windows system DLLs and none of the
# functions the program looks up at run time (they are missing on older Windows versions).
#   check-imports.sh path/to/qtxClear.exe
set -u
exe=${1:?path to the 32-bit qtxClear.exe}
objdump=i686-w64-mingw32-objdump
fail=0
bad() { echo "FAIL: $*"; fail=1; }

[ -f "$exe" ] || { echo "FAIL: $exe not found"; exit 1; }
headers=$($objdump -p "$exe") || { echo "FAIL: objdump cannot read $exe"; exit 1; }

grep -q 'file format pei-i386' <<<"$($objdump -f "$exe")" || bad "not a 32-bit (i386) PE file"
grep -Eq '^Subsystem[[:space:]]+00000002' <<<"$headers" || bad "subsystem is not Windows GUI"
major=$(awk '/^MajorSubsystemVersion/ {print $2}' <<<"$headers")
minor=$(awk '/^MinorSubsystemVersion/ {print $2}' <<<"$headers")
{ [ "${major:-99}" -lt 5 ] || { [ "${major:-99}" -eq 5 ] && [ "${minor:-99}" -le 1 ]; }; } \
  || bad "subsystem version $major.$minor is above 5.1: Windows XP would refuse it"

# Imported DLLs: system DLLs only (no C++ runtime, gcc or thread library beside the exe).
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|OLE32|OLEAUT32|RPCRT4|COMCTL32|COMDLG32|MSVCRT|SHLWAPI|VERSION)\.DLL$'
dlls=$(awk '/DLL Name:/ {print toupper($3)}' <<<"$headers")
[ -n "$dlls" ] || bad "no import table found"
for dll in $dlls; do
  grep -Eq "$allowed" <<<"$dll" || bad "imports $dll, which is not a Windows system DLL"
done

# Functions that older Windows versions lack: looked up at run time, never imported.
runtime_only='RegDeleteKeyExW IsWow64Process Wow64EnableWow64FsRedirection Wow64DisableWow64FsRedirection
GetSystemWow64DirectoryW GetNativeSystemInfo InitiateSystemShutdownExW InitiateSystemShutdownW
SetupUninstallOEMInfW InitializeSecurityDescriptor CreateWellKnownSid SetSecurityDescriptorDacl
SetSecurityDescriptorGroup SetSecurityDescriptorOwner SetEntriesInAclW AllowSetForegroundWindow
SHGetSpecialFolderPathW'
imports=$(awk '/DLL Name:/ {in_dll=1; next} in_dll && NF >= 3 && $1 ~ /^[0-9a-f]+$/ {print $3}' <<<"$headers")
for fn in $runtime_only; do
  grep -qx "$fn" <<<"$imports" && bad "imports $fn, which must be looked up at run time"
done

# The manifest asks for administrator rights and common controls 6.
strings -el "$exe" | grep -q 'requireAdministrator' || strings "$exe" | grep -q 'requireAdministrator' \
  || bad "no requireAdministrator in the embedded manifest"

if [ $fail -eq 0 ]; then
  echo "import check passed: $(wc -w <<<"$dlls") system DLLs, $(wc -l <<<"$imports") imported functions"
fi
exit $fail
