// The Safe-Mode cycle: switching the next boot to minimal Safe Mode and back (boot.ini on
// systems of major version 5 and below, bcdedit.exe above), the self-copy that runs once
// after the restart, and the restart of the computer.
#pragma once
#include <windows.h>

// The option appended to (or cut from) the running system's boot.ini entry.
constexpr const wchar_t* kSafeBootOption = L" /safeboot:minimal";

// Adds (add) or removes the safe-boot option in the running system's entry of the boot.ini
// on the Windows drive's root. Returns WritePrivateProfileStringW's result, or 0 when no
// entry was found and the file was left alone.
BOOL EditBootIni(bool add);
// The same on the boot.ini at `path`.
BOOL EditBootIniFile(const wchar_t* path, bool add);

// Disk and partition numbers of the volume of drive `letter`; true only when both were found.
bool FindDiskPartition(wchar_t letter, DWORD* disk, DWORD* partition);

// Runs "<system folder>\command" without a window (the native system folder when the
// process runs under WOW64) and waits for it to end. Its exit code is not examined.
void RunBootCommand(const wchar_t* command);

// Copies the running executable (path, MAX_PATH characters) to "<Windows>\Temp\qtxClear.exe"
// and then puts the copy's path into path. Non-zero on success; path is unchanged otherwise.
BOOL CopySelf(wchar_t* path);

// Registers path under HKLM RunOnce as "*qtxClear" (the asterisk: also in Safe Mode).
bool RegisterRunOnce(const wchar_t* path);

// Restarts the computer (or calls the test hook of app/ui.h instead).
void RestartWindows();
