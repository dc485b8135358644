// Planting services for the service tests: own-process services that run the stand-in
// service program, and kernel-driver entries that are never started.
#pragma once
#include <windows.h>

#include <string>

namespace qtxtest {
// Creates an own-process service running the stand-in with `args` ("stop", "pending MS",
// "refuse") and, with `start`, starts it and waits until it runs. True on success.
bool PlantStandinService(const wchar_t* name, const wchar_t* args, bool start);
// Creates a demand-start kernel-driver service (never started). True on success.
bool PlantDriverService(const wchar_t* name);
// Deletes the service when it is still there and ends its process; waits until it is gone.
void RemovePlantedService(const wchar_t* name);
// The service's current state, 0 when it cannot be queried.
DWORD ServiceState(const wchar_t* name);
// HKLM\SYSTEM\CurrentControlSet\Services\<name>
std::wstring ServiceKey(const wchar_t* name);
}  // namespace qtxtest
