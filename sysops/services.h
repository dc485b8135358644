// Service control: installed/running tests, stopping with a bounded wait, uninstalling
// (bracketed by the self-protection driver's deletion permit) and removing a driver
// service's tag from the load-order list of its group. A service is named by its key name
// under SYSTEM\CurrentControlSet\Services. Log lines go to category "system".
#pragma once
#include <windows.h>

// True when the service opens for SERVICE_QUERY_CONFIG. Every failure gives false, unlogged.
bool IsServiceInstalled(const wchar_t* name);
// True only when the service's current state is SERVICE_RUNNING (pending states: false).
bool IsServiceRunning(const wchar_t* name);

// Asks the service to stop and polls its state every 125 ms while it is stop-pending, for
// at most the stop bound (60 s); a service still stop-pending then is given up with one log
// line. Returns the code of the first failing call, 0 once the stop was accepted.
DWORD StopServiceAndWait(const wchar_t* name);

// Deletes the service. A service that is not installed counts as done (0, no requests to
// the self-protection driver). Otherwise the deletion permit is asked for before and ended
// after the attempt; returns the code of the failing call, 0 on success.
DWORD UninstallService(const wchar_t* name);

// Takes the service's "Tag" out of the GroupOrderList value of its "Group", while both
// values still exist. Fails silently before its log line; always returns 0.
DWORD RemoveServiceLoadOrderTag(const wchar_t* name);

// The presence probe of a load-order tag: true while the service's "Tag" is among the tags
// of its group's list. Changes nothing, logs nothing.
bool IsServiceLoadOrderTagListed(const wchar_t* name);

// Test hook: replaces the stop bound (milliseconds). Returns the previous bound.
DWORD SetServiceStopBound(DWORD milliseconds);
