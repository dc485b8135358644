// Security Center registrations with their results (the run's step functions in catalog.h
// call these and ignore them), and the hook that lets tests stand in for the WMI connection.
#pragma once
#include <windows.h>
#include <wbemcli.h>

enum class WscProduct { AntiVirus, AntiSpyware, Firewall };

// Connects to the WMI namespace "\\.\root\SecurityCenter". The caller owns *services on success.
HRESULT ConnectSecurityCenter(IWbemServices** services);

// Deletes the suite's instance of one Security Center product class. The connection's failure
// or DeleteInstance's result; the antispyware entry answers 1 without doing anything before
// Windows Vista (major version 6), which has no such class.
HRESULT RemoveWscProduct(WscProduct product);

// Tests: the connection RemoveWscProduct uses (null = ConnectSecurityCenter again).
typedef HRESULT (*SecurityCenterConnectFn)(IWbemServices** services);
void SetSecurityCenterConnectHook(SecurityCenterConnectFn connect);
