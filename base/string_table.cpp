#include "base/string_table.h"

#include <cwchar>

namespace {
constexpr WORD kEnglish = 1033;

// Finds entry `index` of a string-table block; returns its length (0 = empty entry) and
// points *text at it. A block cut short by a damaged resource counts as an empty entry.
WORD FindEntry(const WORD* block, DWORD bytes, UINT index, const wchar_t** text) {
  const WORD* p = block;
  const WORD* end = block + bytes / sizeof(WORD);
  for (UINT i = 0; p < end; ++i) {
    WORD count = *p++;
    if (count > end - p) return 0;
    if (i == index) {
      *text = reinterpret_cast<const wchar_t*>(p);
      return count;
    }
    p += count;
  }
  return 0;
}
}  // namespace

int LoadUiString(HINSTANCE module, UINT id, wchar_t* dest, int capacity, WORD language) {
  const wchar_t* blockName = MAKEINTRESOURCEW(id / 16 + 1);
  for (;;) {
    HRSRC res = FindResourceExW(module, RT_STRING, blockName, language);
    if (!res) res = FindResourceExW(module, RT_STRING, blockName, kEnglish);
    if (!res) return 1;
    HGLOBAL loaded = LoadResource(module, res);
    const WORD* block = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    if (!block) return 1;
    const wchar_t* text = nullptr;
    WORD count = FindEntry(block, SizeofResource(module, res), id % 16, &text);
    if (count != 0) {
      if (capacity <= 0 || !dest) return 0;
      int copied = count < capacity ? count : capacity - 1;
      wmemcpy(dest, text, copied);
      dest[copied] = L'\0';
      return copied;
    }
    if (language == kEnglish) return 1;
    language = kEnglish;
  }
}
