#!/usr/bin/env bash
# Checks the built 32-bit product: a lean 32-bit GUI program that Windows 2000 can start,
# terminal-server aware, statically linked, asking for administrator rights, importing only
# Windows system DLLs, none of the functions the program looks up at run time, and none that
# Windows 2000 SP4 lacks (scripts/win2000-missing.txt).
#   check-imports.sh path/to/qtxClear.exe
set -u
exe=${1:?path to the 32-bit qtxClear.exe}
here=$(cd "$(dirname "$0")" && pwd)
objdump=i686-w64-mingw32-objdump
max_bytes=$((352 * 1024))
fail=0
bad() { echo "FAIL: $*"; fail=1; }

[ -f "$exe" ] || { echo "FAIL: $exe not found"; exit 1; }
headers=$($objdump -p "$exe") || { echo "FAIL: objdump cannot read $exe"; exit 1; }

grep -q 'file format pei-i386' <<<"$($objdump -f "$exe")" || bad "not a 32-bit (i386) PE file"
grep -Eq '^Subsystem[[:space:]]+00000002' <<<"$headers" || bad "subsystem is not Windows GUI"
major=$(awk '/^MajorSubsystemVersion/ {print $2}' <<<"$headers")
minor=$(awk '/^MinorSubsystemVersion/ {print $2}' <<<"$headers")
{ [ "${major:-99}" -lt 5 ] || { [ "${major:-99}" -eq 5 ] && [ "${minor:-99}" -eq 0 ]; }; } \
  || bad "subsystem version $major.$minor is above 5.0: Windows 2000 would refuse it"

# IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE (0x8000).
characteristics=$(awk '/^DllCharacteristics/ {print $2}' <<<"$headers")
(( 0x${characteristics:-0} & 0x8000 )) || bad "not terminal-server aware (DllCharacteristics 0x$characteristics)"

# Lean: no symbol table, and well below the size limit.
grep -q 'no symbols' <<<"$($objdump -t "$exe" 2>&1)" || bad "carries a symbol table (not stripped)"
bytes=$(stat -c %s "$exe")
[ "$bytes" -le "$max_bytes" ] || bad "is $bytes bytes, more than $max_bytes"

# Imports as "dll function" pairs (DLL in lower case without .dll), read from each DLL's block
# of objdump's import table up to the blank line that ends it.
pairs=$(awk '
  /^\tDLL Name:/ { dll = tolower($3); sub(/\.dll$/, "", dll); next }
  dll != "" && /^$/ { dll = ""; next }
  dll != "" && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ && NF >= 3 { print dll, $3 }
' <<<"$headers")
dlls=$(awk '/DLL Name:/ {print toupper($3)}' <<<"$headers")
[ -n "$dlls" ] || bad "no import table found"

# Imported DLLs: system DLLs only (no C++ runtime, gcc or thread library beside the exe).
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|OLE32|OLEAUT32|RPCRT4|COMCTL32|COMDLG32|MSVCRT|SHLWAPI|VERSION)\.DLL$'
for dll in $dlls; do
  grep -Eq "$allowed" <<<"$dll" || bad "imports $dll, which is not a Windows system DLL"
done

# Functions the program looks up at run time (missing on some Windows version it supports).
runtime_only='RegDeleteKeyExW IsWow64Process Wow64EnableWow64FsRedirection Wow64DisableWow64FsRedirection
GetSystemWow64DirectoryW GetNativeSystemInfo InitiateSystemShutdownExW InitiateSystemShutdownW
SetupUninstallOEMInfW InitializeSecurityDescriptor CreateWellKnownSid SetSecurityDescriptorDacl
SetSecurityDescriptorGroup SetSecurityDescriptorOwner SetEntriesInAclW AllowSetForegroundWindow
SHGetSpecialFolderPathW AttachConsole'
functions=$(awk '{print $2}' <<<"$pairs")
for fn in $runtime_only; do
  grep -qx "$fn" <<<"$functions" && bad "imports $fn, which must be looked up at run time"
done

# Functions Windows 2000 SP4 lacks: the loader would refuse to start the program.
while read -r dll fn _; do
  [ -z "$dll" ] || [ "${dll:0:1}" = "#" ] && continue
  grep -qx "$dll $fn" <<<"$pairs" && bad "imports $fn from $dll.dll, which Windows 2000 lacks"
done <"$here/win2000-missing.txt"

# The manifest asks for administrator rights and common controls 6.
strings -el "$exe" | grep -q 'requireAdministrator' || strings "$exe" | grep -q 'requireAdministrator' \
  || bad "no requireAdministrator in the embedded manifest"

if [ $fail -eq 0 ]; then
  echo "import check passed: $((bytes / 1024)) KiB, $(wc -w <<<"$dlls") system DLLs, $(wc -l <<<"$pairs") imported functions"
fi
exit $fail
