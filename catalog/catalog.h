// The removal catalog: one step per area, called by the removal run in its fixed order.
// Each step walks its own fixed tables and logs every item; none stops the run.
#pragma once
#include <windows.h>

// Browser plug-ins and the sidebar gadget, through the suite's base library.
void RemoveBrowserPlugins();
void RemoveSidebarGadget();
// The suite's services; the result becomes the run's result.
DWORD RemoveServices();
// The server add-in file; the suite's registered COM modules.
void RemoveWhsAddin();
void UnregisterModules();
// Real-time protection drivers, their filters, load-order tags and network components.
void RemoveProtectionDrivers();
// The mail client's add-in registrations and its extension cache (the driver step calls both first).
void RemoveOutlookAddins();
void DeleteOutlookExtensionCache();
// Screen saver and boot-time files; shortcuts and program groups; program and data folders.
void RemoveBootFiles();
void RemoveShortcuts();
void RemoveProgramFiles();
// Registry entries: 0 on success, non-zero when the program files must be kept.
DWORD RemoveRegistryEntries();
// Security Center registrations (COM initialised by the caller).
void RemoveWscAntiVirus();
void RemoveWscAntiSpyware();
void RemoveWscFirewall();
