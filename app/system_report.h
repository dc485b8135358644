// The start-up report of the machine (operating system, memory, computer, user) and the
// process set-up done in the same step: random seed, restore privilege, COM and its security.
#pragma once
#include <windows.h>
#include <string>

// "Operating system: " + name + version part + [service-pack text] + kind suffixes, from the
// version facts and the kind flags (OS_WHS, OS_SBS, OS_SERVER, OS_WOW64, OS_X64) that hold.
std::wstring BuildOsLine(const OSVERSIONINFOEXW& version, DWORD kindFlags);

// The name of an NT-family system by version and product type; "" when none matches.
const wchar_t* NtSystemName(DWORD major, DWORD minor, BYTE productType);

// The account text of the report: the name alone when the domain is empty or
// "NT AUTHORITY", otherwise domain\name (at most 259 characters).
std::wstring AccountDisplayName(const wchar_t* name, const wchar_t* domain);

// Writes the report to the log and, with `prepareProcess`, prepares the process (restore
// privilege, COM initialised for good, COM security); a dry run does without.
void WriteSystemReport(bool prepareProcess = true);
