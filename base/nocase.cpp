#include "base/nocase.h"

#include <windows.h>

#include "base/dynapi.h"

namespace {
typedef WCHAR(NTAPI* UpcaseFn)(WCHAR);

// Where the system's case table cannot be reached (no NT), letters a-z are folded only.
WCHAR NTAPI UpcaseAscii(WCHAR c) { return c >= L'a' && c <= L'z' ? static_cast<WCHAR>(c - L'a' + L'A') : c; }
}  // namespace

bool EqualNoCase(const wchar_t* a, const wchar_t* b, size_t length) {
  auto upcase = LookupFn<UpcaseFn>(L"ntdll.dll", "RtlUpcaseUnicodeChar");
  if (!upcase) upcase = UpcaseAscii;
  for (size_t i = 0; i < length; ++i)
    if (a[i] != b[i] && upcase(a[i]) != upcase(b[i])) return false;
  return true;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && EqualNoCase(a.c_str(), b.c_str(), a.size());
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.c_str(), prefix.c_str(), prefix.size());
}
