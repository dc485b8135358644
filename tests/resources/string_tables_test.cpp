// The string tables linked into this program (the product's, plus test_strings.rc): every
// language against US English, and the string loader's fall-back and bounds.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ui/ui_strings.h"
#include "resources/resource.h"
#include "tests/support/test_support.h"
#include "tests/resources/test_strings.h"

using qtxtest::Narrow;

namespace {

constexpr WORD kEnglish = 1033;
constexpr UINT kFirstTestBlock = TEST_FIRST_ID / 16 + 1;
const wchar_t kSupportAddress[] = L"support@velko-software.example";

const UINT kProductIds[] = {
    IDS_RESTART_TEXT,  IDS_RESTART_CAPTION, IDS_BROWSE_CAPTION, IDS_BROWSE_TEXT,
    IDS_CONFIRM_DELETE, IDS_SYSTEM_FOLDER,  IDS_SAFEMODE_ASK,   IDS_APP_CAPTION,
    IDS_SAFEMODE_RESTART, IDS_RUNONCE_FAILED, IDS_SELFPROTECTION, IDS_PRODUCT_WHS,
    IDS_PRODUCT_HOME,  IDS_PRODUCT_OFFICE, IDS_DONE_SERVICE,   IDS_DONE_DRIVERS,
    IDS_DONE_REGISTRY, IDS_DONE_FILES,     IDS_DONE_SHORTCUTS, IDS_DONE_ALL,
    IDS_REMOVING,      IDS_RESIDUE,       IDS_REMOVE_FAILED, IDS_USAGE};
// Blocks only US English has: the other languages fall back to its text.
const UINT kEnglishOnlyBlocks[] = {IDS_USAGE / 16 + 1};

HMODULE Self() { return GetModuleHandleW(nullptr); }

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) {
  if (IS_INTRESOURCE(name))
    reinterpret_cast<std::vector<UINT>*>(out)->push_back(LOWORD(reinterpret_cast<ULONG_PTR>(name)));
  return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out) {
  reinterpret_cast<std::set<WORD>*>(out)->insert(language);
  return TRUE;
}

// The product's string-table blocks (the test-only range left out).
std::vector<UINT> ProductBlocks() {
  std::vector<UINT> blocks;
  EnumResourceNamesW(Self(), RT_STRING, CollectName, reinterpret_cast<LONG_PTR>(&blocks));
  blocks.erase(std::remove_if(blocks.begin(), blocks.end(),
                              [](UINT b) { return b >= kFirstTestBlock; }),
               blocks.end());
  return blocks;
}

std::set<WORD> LanguagesOf(UINT block) {
  std::set<WORD> languages;
  EnumResourceLanguagesW(Self(), RT_STRING, MAKEINTRESOURCEW(block), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  return languages;
}

// The 16 entries of one block in exactly this language, read from the raw resource (no
// fall-back); empty entries are empty strings. False when the block is missing or damaged.
bool ReadBlock(UINT block, WORD language, std::vector<std::wstring>* entries) {
  entries->assign(16, std::wstring());
  HRSRC res = FindResourceExW(Self(), RT_STRING, MAKEINTRESOURCEW(block), language);
  if (!res) return false;
  HGLOBAL loaded = LoadResource(Self(), res);
  const WORD* p = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
  if (!p) return false;
  const WORD* end = p + SizeofResource(Self(), res) / sizeof(WORD);
  for (int i = 0; i < 16; ++i) {
    if (p >= end) return false;
    WORD count = *p++;
    if (count > end - p) return false;
    (*entries)[i].assign(reinterpret_cast<const wchar_t*>(p), count);
    p += count;
  }
  return true;
}

// printf conversions in order ("%%" included, as it must survive translation too).
std::vector<std::wstring> FormatSpecifiers(const std::wstring& s) {
  std::vector<std::wstring> specs;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != L'%') continue;
    size_t j = i + 1;
    while (j < s.size() && !wcschr(L"diouxXcsSpfFeEgGaAn%", s[j])) ++j;
    specs.push_back(s.substr(i, j + 1 - i));
    i = j;
  }
  return specs;
}

// UTF-8 bytes read as a single-byte code page show up as a lead byte (C2-F4) followed by
// continuation bytes (80-BF) among Latin-1 characters: the mark of a wrongly decoded source.
bool LooksDoubleEncoded(const std::wstring& s) {
  for (size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] >= 0xC2 && s[i] <= 0xF4 && s[i + 1] >= 0x80 && s[i + 1] <= 0xBF) return true;
  return s.find(L'\xFFFD') != std::wstring::npos;
}

std::string Where(WORD language, UINT block, int index) {
  char buf[64];
  snprintf(buf, sizeof buf, "language 0x%04X, string %u", language, (block - 1) * 16 + index);
  return buf;
}

TEST(StringTables, EnglishHasEveryProductStringAndNothingElse) {
  std::set<UINT> english;
  for (UINT block : ProductBlocks()) {
    std::vector<std::wstring> entries;
    ASSERT_TRUE(ReadBlock(block, kEnglish, &entries)) << "block " << block;
    for (int i = 0; i < 16; ++i)
      if (!entries[i].empty()) english.insert((block - 1) * 16 + i);
  }
  EXPECT_EQ(english, std::set<UINT>(std::begin(kProductIds), std::end(kProductIds)));
}

TEST(StringTables, EveryLanguageMatchesEnglishInShape) {
  std::vector<UINT> blocks = ProductBlocks();
  ASSERT_FALSE(blocks.empty());
  std::set<WORD> all;
  for (UINT block : blocks) {
    std::set<WORD> languages = LanguagesOf(block);
    all.insert(languages.begin(), languages.end());
  }
  EXPECT_GE(all.size(), 16u);
  ASSERT_EQ(all.count(kEnglish), 1u);

  for (UINT block : blocks) {
    std::set<WORD> here = LanguagesOf(block);
    if (std::count(std::begin(kEnglishOnlyBlocks), std::end(kEnglishOnlyBlocks), block)) {
      EXPECT_EQ(here, std::set<WORD>{kEnglish}) << "block " << block << " is English only";
      continue;
    }
    std::vector<std::wstring> english;
    ASSERT_TRUE(ReadBlock(block, kEnglish, &english));
    for (WORD language : all) {
      // Listed for this block, so FindResourceExW returns this language's own block.
      if (!here.count(language)) {
        ADD_FAILURE() << "language 0x" << std::hex << language << " lacks block " << std::dec
                      << block;
        continue;
      }
      std::vector<std::wstring> local;
      ASSERT_TRUE(ReadBlock(block, language, &local)) << Where(language, block, 0);
      for (int i = 0; i < 16; ++i) {
        const std::wstring& en = english[i];
        const std::wstring& text = local[i];
        if (en.empty()) {
          EXPECT_TRUE(text.empty()) << Where(language, block, i) << ": not in English";
          continue;
        }
        EXPECT_FALSE(text.empty()) << Where(language, block, i) << " is missing";
        EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'),
                  std::count(en.begin(), en.end(), L'\n'))
            << Where(language, block, i) << ": " << Narrow(text);
        EXPECT_EQ(FormatSpecifiers(text), FormatSpecifiers(en)) << Where(language, block, i);
        EXPECT_FALSE(LooksDoubleEncoded(text)) << Where(language, block, i) << ": "
                                               << Narrow(text);
        if (en.find(kSupportAddress) != std::wstring::npos) {
          EXPECT_NE(text.find(kSupportAddress), std::wstring::npos)
              << Where(language, block, i) << " lost the support address";
        }
      }
    }
  }
}

// ---- LoadUiString --------------------------------------------------------------------

std::wstring Load(UINT id, WORD language, int* result = nullptr) {
  wchar_t buf[512] = {};
  int n = LoadUiString(Self(), id, buf, 512, language);
  if (result) *result = n;
  return buf;
}

std::wstring EnglishDirect(UINT id) {
  std::vector<std::wstring> entries;
  if (!ReadBlock(id / 16 + 1, kEnglish, &entries)) return L"<no English block>";
  return entries[id % 16];
}

TEST(LoadUiString, LocalTextWhenPresentEnglishOtherwise) {
  int n = 0;
  EXPECT_EQ(Load(IDS_TEST_BOTH, TEST_LANGID, &n), L"\x00C5lphabet s\x00FCp");
  EXPECT_EQ(n, 12);
  // Lacking in the test language's block, empty there, and a block the language lacks.
  EXPECT_EQ(Load(IDS_TEST_ENGLISH_ONLY, TEST_LANGID, &n), L"Only in English");
  EXPECT_EQ(n, 15);
  EXPECT_EQ(Load(IDS_TEST_EMPTY_IN_OTHER, TEST_LANGID), L"English beside an empty entry");
  EXPECT_EQ(Load(IDS_APP_CAPTION, TEST_LANGID), EnglishDirect(IDS_APP_CAPTION));
  EXPECT_EQ(Load(IDS_REMOVE_FAILED, TEST_LANGID), EnglishDirect(IDS_REMOVE_FAILED));
  // A real translation is returned as it is, not replaced by English.
  std::vector<std::wstring> german;
  ASSERT_TRUE(ReadBlock(IDS_DONE_ALL / 16 + 1, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), &german));
  EXPECT_EQ(Load(IDS_DONE_ALL, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)), german[IDS_DONE_ALL % 16]);
  EXPECT_NE(german[IDS_DONE_ALL % 16], EnglishDirect(IDS_DONE_ALL));
}

TEST(LoadUiString, UnknownIdReturnsOneAndLeavesDestination) {
  for (UINT id : {IDS_TEST_NOWHERE, IDS_TEST_NO_BLOCK}) {
    for (WORD language : {kEnglish, static_cast<WORD>(TEST_LANGID)}) {
      wchar_t buf[8];
      wmemset(buf, L'#', 8);
      EXPECT_EQ(LoadUiString(Self(), id, buf, 8, language), 1) << id << " " << language;
      EXPECT_EQ(std::wstring(buf, 8), L"########") << id << " " << language;
    }
  }
}

TEST(LoadUiString, SmallDestinationIsCutAndTerminatedWithinCapacity) {
  struct Case {
    int capacity;
    int copied;
    const wchar_t* text;
  } cases[] = {{1, 0, L""}, {5, 4, L"Alph"}, {13, 12, L"Alphabet sou"}, {14, 13, L"Alphabet soup"}};
  for (const Case& c : cases) {
    wchar_t buf[24];
    wmemset(buf, L'#', 24);
    EXPECT_EQ(LoadUiString(Self(), IDS_TEST_BOTH, buf, c.capacity, kEnglish), c.copied)
        << "capacity " << c.capacity;
    EXPECT_STREQ(buf, c.text) << "capacity " << c.capacity;
    for (int i = c.capacity; i < 24; ++i)
      ASSERT_EQ(buf[i], L'#') << "capacity " << c.capacity << " wrote at " << i;
  }
  // A capacity of 0 has no room even for the terminator.
  wchar_t buf[4];
  wmemset(buf, L'#', 4);
  LoadUiString(Self(), IDS_TEST_BOTH, buf, 0, kEnglish);
  EXPECT_EQ(std::wstring(buf, 4), L"####");
}

}  // namespace
