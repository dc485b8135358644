// Case-insensitive comparison of names and paths, the one used wherever letter case must not
// matter for a decision. It is ordinal: each character is upper-cased with the system's own
// case table (the one the object manager and the file systems use for names) and the results
// are compared code by code, so no language's rules apply and it works on every NT version
// the program starts on (Windows 2000 included).
#pragma once
#include <cstddef>
#include <string>

// True when the first `length` characters of a and b are equal without regard to case. Both
// must hold at least `length` characters.
bool EqualNoCase(const wchar_t* a, const wchar_t* b, size_t length);
// True when a and b have the same length and are equal without regard to case.
bool EqualNoCase(const std::wstring& a, const std::wstring& b);
// True when text begins with prefix, without regard to case.
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);
