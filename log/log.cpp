#include "log/log.h"

#include <cstdarg>
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

CLog::CLog() {}

void CLog::Print(int level, int category, const wchar_t* format, ...) {
  static wchar_t buffer[kLogMessageChars];
  va_list args;
  va_start(args, format);
  FormatBounded(buffer, kLogMessageChars, format, args);
  va_end(args);
  AddEntry(buffer, level, category);
}

void PrintPair(int level, int category, const wchar_t* first, const wchar_t* second) {
  g_log.Print(level, category, L"%s%s", first ? first : L"", second ? second : L"");
}

void CLog::AddEntry(const wchar_t* text, int level, int category) {
  if (!enabled) return;
  entries.push_back(LogEntry{static_cast<int64_t>(time(nullptr)), GetTickCount(), category, level,
                             text ? text : L""});
  if (autoSave) {
    if (++autoSaveCounter > autoSaveEvery) {
      autoSaveCounter = 0;
      Save(autoSavePath.c_str(), autoSaveLevel, autoSaveFormat);
      entries.clear();
    }
  }
}
