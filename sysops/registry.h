// Registry deletions: key trees in a view, values, the shell extension, App Paths and the
// virtual-device-driver list, each opening and closing its own handles and logging (category
// "registry") what it did. Opening, creating, reading and setting single keys and values, and
// the registry-view rule, are in base/regkey.h.
#pragma once
#include <windows.h>

#include "base/regkey.h"

// The suite's shell-extension class id.
constexpr const wchar_t* kShellExtensionClsid = L"{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C}";

// Deletes root\subkey with all its subkeys, deepest first, logging each key relative to its
// parent. Subkeys that cannot be deleted are stepped over and leave the key in place (its
// failure logged). Returns 1 when the key could be opened (also when its final deletion
// failed), 0 otherwise.
int regDeleteTree(HKEY root, const wchar_t* subkey);
int regDeleteTree64(HKEY root, const wchar_t* subkey);
int regDeleteTree32(HKEY root, const wchar_t* subkey);
// Deletes one value; 1 when it was deleted.
int regDeleteValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName);
// Removes the suite's shell-extension registrations from both views. Returns 0.
DWORD regRemoveShellExtension();
// Deletes the App Paths entry of exeName when its "Path" equals expectedFolder.
DWORD regRemoveAppPath(const wchar_t* exeName, const wchar_t* expectedFolder);
// Removes every entry ending in suffix (case-insensitive) from the virtual-device-driver list
// after repairing its shape. 1 when written back; 0 for an empty suffix, a missing, empty,
// oversized (> 32,768 bytes) or non-text value.
int regRemoveVdd(const wchar_t* suffix);
