// The registry layer's key and value basics: opening and creating keys in a view, and
// reading and setting single values. The view rule lives here and nowhere else.
//
// Views: "plain" operations address the product's own view. The product is a 32-bit
// program, so on 64-bit Windows that is the 32-bit view; the 64-bit build therefore adds
// KEY_WOW64_32KEY to every plain open, create and delete (see OwnRegistryView). The ...64
// and ...32 variants force the 64-bit or 32-bit view. No other module spells out view flags:
// everything else opens keys through regOpenKey/regCreateKeyHandle.
#pragma once
#include <windows.h>

#include "base/handles.h"

enum class RegView { Plain, View64, View32 };

// Access mask for `view`: Plain adds the product's own view flag; View64/View32 add
// KEY_WOW64_64KEY/KEY_WOW64_32KEY on 64-bit Windows and nothing on 32-bit Windows.
REGSAM regViewAccess(REGSAM access, RegView view);

// RegOpenKeyExW in the given view. Returns the Windows code; `key` holds the handle on success.
LSTATUS regOpenKey(HKEY root, const wchar_t* subkey, REGSAM access, UniqueRegKey& key,
                   RegView view = RegView::Plain);
// Opens root\subkey as a deletion must, without following a registry link that a user may
// have planted on the way: one component at a time, each relative to the one before, each as
// itself (REG_OPTION_OPEN_LINK), all in `view`. A parent key that is a link is refused: one
// line is logged and kRegLinkInParent returned, unless the link leads where the path itself
// says (the same name in the other registry view, or a numbered control set for the current
// one): the system's own links of that kind are followed. The last component is opened as itself, link or not; parents need
// KEY_QUERY_VALUE, the last one `access`. Returns the Windows code of the first failing open.
constexpr LSTATUS kRegLinkInParent = ERROR_CANT_RESOLVE_FILENAME;
LSTATUS regOpenKeyNoFollow(HKEY root, const wchar_t* subkey, REGSAM access, UniqueRegKey& key,
                           RegView view = RegView::Plain);
// True when `key`, opened with REG_OPTION_OPEN_LINK, is a registry link: such a key holds
// its target in the value "SymbolicLinkValue" of type REG_LINK.
bool regIsLinkKey(HKEY key);

// RegCreateKeyExW (class "", non-volatile) in the given view.
LSTATUS regCreateKeyHandle(HKEY root, const wchar_t* subkey, REGSAM access, UniqueRegKey& key,
                           RegView view = RegView::Plain);
// Deletes one key without subkeys in the given view. Plain uses RegDeleteKeyW (the 64-bit
// build: its 32-bit-view equivalent); View64/View32 use RegDeleteKeyExW, looked up at run
// time, and fall back to RegDeleteKeyW where it is missing (*usedFallback then set).
LSTATUS regDeleteOneKey(HKEY root, const wchar_t* subkey, RegView view, bool* usedFallback = nullptr);

// Creates root\subkey (an existing key counts as success). Logs "Cannot create reg. key:" on failure.
DWORD regCreateKey(const wchar_t* subkey, HKEY root);
// True when HKEY_LOCAL_MACHINE\subkey opens with KEY_READ.
bool regKeyExists(const wchar_t* subkey);
// Creates the key when needed and sets a REG_SZ value (null name = default value).
DWORD regSetString(const wchar_t* subkey, HKEY root, const wchar_t* valueName, const wchar_t* text);
// Reads a DWORD from HKEY_LOCAL_MACHINE\subkey; 13 when the value is not 4 bytes long.
DWORD regGetDword(const wchar_t* subkey, const wchar_t* valueName, DWORD* out);
// The same from a key already open (for callers that read many values of one key).
DWORD regGetDwordIn(HKEY key, const wchar_t* valueName, DWORD* out);
// Reads a string value into buffer (bufferBytes bytes, zeroed first); logs only when bLog.
// Text that would fill the buffer without a terminator gives ERROR_MORE_DATA.
DWORD regGetString(HKEY root, const wchar_t* subkey, const wchar_t* valueName, wchar_t* buffer,
                   DWORD bufferBytes, bool bLog);
