#include "log/log.h"

#include <cstdarg>
#include <cstdint>
#include <cwchar>
#include <ctime>

CLog g_log;

namespace {
// Formats into buffer (capacity chars), always terminated; text that does not fit is cut.
void FormatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) {
  int n = _vsnwprintf(buffer, capacity - 1, format, args);
  if (n < 0 || static_cast<size_t>(n) >= capacity - 1) buffer[capacity - 1] = L'\0';
}
}  // namespace

const wchar_t* LogLevelName(int level) {
  static const wchar_t* const names[] = {L"min", L"nrm", L"vrb", L"dbg"};
  return level >= 0 && level < 4 ? names[level] : L"???";
}

const wchar_t* LogCategoryName(int category) {
  static const wchar_t* const names[] = {L"general", L"file",    L"registry", L"ini",
                                         L"system",  L"package", L"internet"};
  return category >= 0 && category < 7 ? names[category] : L"???";
}

const wchar_t* LogCategoryShortName(int category) {
  static const wchar_t* const names[] = {L"gen", L"fil", L"reg", L"ini", L"sys", L"pkg", L"int"};
  return category >= 0 && category < 7 ? names[category] : L"???";
}

LogCategorySet LogCategorySet::All() {
  LogCategorySet set;
  set.everyCategory = true;
  return set;
}

LogCategorySet LogCategorySet::Of(std::initializer_list<int> categories) {
  LogCategorySet set;
  for (int category : categories) {
    if (category < 0) continue;  // no bit can stand for it
    size_t word = static_cast<size_t>(category) / 32;
    if (set.words.size() <= word) set.words.resize(word + 1, 0);
    set.words[word] |= 1u << (category % 32);
  }
  return set;
}

bool LogCategorySet::Contains(int category) const {
  if (everyCategory) return true;
  if (category < 0) return false;
  size_t word = static_cast<size_t>(category) / 32;
  return word < words.size() && (words[word] >> (category % 32) & 1u) != 0;
}

CLog::CLog() {}

void CLog::Print(int level, int category, const wchar_t* format, ...) {
  // Allocated once rather than a static array: a zero-filled static array would be stored in
  // the lean build's file (its data sections keep zero-initialised objects as data).
  static std::vector<wchar_t> buffer(kLogMessageChars);
  va_list args;
  va_start(args, format);
  FormatBounded(buffer.data(), kLogMessageChars, format, args);
  va_end(args);
  AddEntry(buffer.data(), level, category);
}

void PrintPair(int level, int category, const wchar_t* first, const wchar_t* second) {
  g_log.Print(level, category, L"%s%s", first ? first : L"", second ? second : L"");
}

void CLog::AddEntry(const wchar_t* text, int level, int category) {
  if (!enabled) return;
  entries.push_back(LogEntry{static_cast<int64_t>(time(nullptr)), GetTickCount(), category, level,
                             text ? text : L""});
  if (autoSave) {
    // Saturates so that a huge autoSaveEvery cannot push the counter past its range.
    if (autoSaveCounter < INT32_MAX) ++autoSaveCounter;
    if (autoSaveCounter > autoSaveEvery) {
      autoSaveCounter = 0;
      Save(autoSavePath.c_str(), autoSaveLevel, autoSaveFormat);
      entries.clear();
    }
  }
}
