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
// process runs under WOW64) and waits for it to end, at most 60 seconds: a tool that hangs
// must not keep the start-up from going on. Its exit code is not examined. False when it
// could not be started or did not end in time (then the boot change counts as failed and
// "Boot command did not end within %u s, the boot change counts as failed: %s" is logged).
bool RunBootCommand(const wchar_t* command);
// For tests: the bound of that wait in milliseconds (0 = back to 60 seconds).
void SetBootCommandWaitForTests(DWORD milliseconds);

// Folder name prefix of the Safe-Mode copy in the Windows temporary folder.
constexpr const wchar_t* kSafeModeCopyPrefix = L"qtxClear-";
// Access list of the copy's folder: full control for Administrators and SYSTEM, inherited by
// the copy; nothing inherited from the temporary folder, where every user may create and
// change files.
constexpr const wchar_t* kCopyFolderAccess = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Opens the running program's own file for reading, without write or delete sharing, and
// keeps it open for the life of the process: from then on the file cannot be renamed,
// replaced or changed. Kept only when its headers equal those mapped at
// GetModuleHandleW(NULL). Otherwise "Program file not held, no Safe-Mode copy can be made:
// %s (%s)" is logged. True when held (also when it was held already).
bool HoldOwnImage();

// Copies the running executable, read through the handle HoldOwnImage keeps (path, MAX_PATH
// characters, receives the copy's path) as "qtxClear.exe" into a new
// folder "<Windows>\Temp\qtxClear-{random GUID}" whose access list admits Administrators
// and SYSTEM only, and then puts the copy's path into path. The Windows temporary folder is
// writable by every user: a fixed name there could be planted, or replaced before the
// restart. Without the held file nothing is copied ("Safe-Mode copy refused: the program's
// own file is not held"). Non-zero on success; path is unchanged otherwise (and no folder is
// left behind).
BOOL CopySelf(wchar_t* path);

// Registers path in double quotes under HKLM RunOnce as "*qtxClear" (the asterisk: also in
// Safe Mode).
bool RegisterRunOnce(const wchar_t* path);

// True when path is a copy made by CopySelf: "qtxClear.exe" in a "qtxClear-..." folder
// directly in the Windows temporary folder.
bool IsSafeModeCopy(const wchar_t* path);

// In Safe Mode: the copy made by CopySelf queues its own file and then its folder for
// deletion at the next restart. Any other executable (an original started from a USB stick
// or a tools folder) is kept. Logs which of the two happened.
void QueueSafeModeCopyForDeletion(const wchar_t* self);

// Restarts the computer (or calls the test hook of app/ui.h instead).
void RestartWindows();
