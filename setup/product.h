// The installed product as detection found it: the facts that the path macros and the
// removal catalog read. One instance each, empty at load; product detection sets them.
#pragma once
#include <windows.h>
#include <string>

extern std::wstring g_detectedProgramFolder;
extern std::wstring g_detectedDataFolder;
extern std::wstring g_productRegistryKey;  // set by detection; read by "%RWPATH%" and the registry step
extern DWORD g_installedMajorVersion;      // leading number of the product's "Version"

// Puts the facts back to their state at load (for tests).
void ResetProductFacts();

// The suite's uninstall registration (HKLM, the product's own view): detection reads it, the
// run deletes it last.
constexpr const wchar_t* kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velko";
