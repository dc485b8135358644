// The account that runs the process, for the start-up report.
#pragma once
#include <windows.h>

constexpr DWORD kAccountNameChars = 256;
constexpr DWORD kAccountDomainChars = 32;

// GetUserNameW into name (kAccountNameChars characters). On the NT family the name is then
// replaced by the token user's account name and domain receives its domain
// (kAccountDomainChars characters); domain stays empty when that look-up fails. Returns
// GetUserNameW's result (non-zero on success).
BOOL GetCurrentAccountName(wchar_t* name, wchar_t* domain);
