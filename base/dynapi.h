// Run-time look-up of system functions that older Windows versions lack. Every such
// look-up in the program goes through LookupProc, so that tests can replace a function
// or make it look absent.
#pragma once
#include <windows.h>

// GetModuleHandleW(module) then GetProcAddress(name); null when either is missing.
// The module is not loaded: use it only for modules every process has (kernel32,
// advapi32, user32 ...).
FARPROC LookupProc(const wchar_t* module, const char* name);

template <class Fn>
Fn LookupFn(const wchar_t* module, const char* name) {
  return reinterpret_cast<Fn>(LookupProc(module, name));
}

// GetProcAddress on a module the caller loaded itself, with the same test overrides.
FARPROC LookupProcIn(HMODULE module, const char* name);

// Test hooks: from now on LookupProc/LookupProcIn answer `replacement` for `name`
// (null = the function is absent). ClearProcOverrides restores the real look-ups.
void OverrideProc(const char* name, FARPROC replacement);
void ClearProcOverrides();
