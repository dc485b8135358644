// Removing the COM registrations of the suite's modules before their files go: 32-bit
// in-process servers are asked to unregister themselves inside this process; 64-bit servers,
// which a 32-bit process cannot load, through the suite's own 64-bit registration helper in
// the program folder. Outcomes are logged (category "file").
#pragma once
#include <windows.h>

#include <string>

// The suite's 64-bit registration helper, in the program folder ("%ROPATH%").
constexpr const wchar_t* kRegSvr64Name = L"qtxRegSvr64.exe";

// Calls the module's DllUnregisterServer, between OleInitialize and OleUninitialize, unless
// the SharedDLLs list counts the module two or more times (then it is not even loaded). A
// module that is missing, cannot be loaded, has no such export or has no absolute path is
// skipped; only a failing export call is logged. Always 0.
DWORD UnregisterInProcServer(const wchar_t* modulePath);

// On 64-bit Windows: starts the 64-bit helper with "/u" and the module path in double quotes
// and does not wait for it. 0 when started (and on other systems, where nothing is done),
// otherwise RunRegSvr64's code.
DWORD UnregisterServer64(const wchar_t* modulePath);

// A 64-bit module of the suite, which this 32-bit program cannot load: on 64-bit AMD64
// Windows unregistered through the 64-bit helper (UnregisterServer64) when the file is there
// and the SharedDLLs list does not count it two or more times; a path that is not absolute is
// skipped with a log line. On other systems the suite installs no 64-bit module: nothing is
// done. 0, or UnregisterServer64's code.
DWORD UnregisterSuiteServer64(const wchar_t* modulePath);

// Starts "qtxRegSvr64.exe <arguments>" from the program folder, with that folder as the
// current folder for the start; the caller's current folder is restored afterwards. The
// program file is taken from the program folder only. 0 when the process was created,
// otherwise the Windows code of the failed folder change or start.
DWORD RunRegSvr64(const wchar_t* arguments);
