// Renderers (RTF, plain text) and UTF-16 file output of the log.
#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <cwchar>

#include "log/log.h"
#include "log/ufile.h"

namespace {
// Room for every formatted prefix: the longest is far below this, and formatting is
// bounded to it anyway so that no entry can overrun the buffer.
constexpr size_t kPrefixChars = 101;

// Length, in characters, of the line prefix that precedes a "Started: " message.
constexpr size_t kPrefixFormat0 = 18;
constexpr size_t kPrefixFormat1 = 42;

const wchar_t kStarted[] = L"Started: ";
const wchar_t kLineEnd[] = L"\r\n";

struct LocalFields {
  int day, month, year, hour, minute, second;
};

// Local time of `seconds` (since 1970, UTC), through the system rather than the C runtime:
// the runtime's 64-bit time functions are missing from Windows 2000's msvcrt.dll. A time the
// system cannot convert gives 00.01.1900 00:00:00.
LocalFields ToLocal(int64_t seconds) {
  constexpr int64_t kEpochAsFileTime = 116444736000000000LL;  // 1970-01-01 in 100 ns units
  constexpr int64_t kTicksPerSecond = 10000000LL;
  const LocalFields invalid{0, 1, 1900, 0, 0, 0};
  if (seconds < 0 || seconds > (INT64_MAX - kEpochAsFileTime) / kTicksPerSecond) return invalid;
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>(seconds * kTicksPerSecond + kEpochAsFileTime);
  FILETIME utc = {ticks.LowPart, ticks.HighPart};
  SYSTEMTIME universal, local;
  if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
    return invalid;
  return LocalFields{local.wDay, local.wMonth, local.wYear, local.wHour, local.wMinute, local.wSecond};
}

// Formats into `buffer` (kPrefixChars), cut and terminated when too long.
void FormatPrefix(wchar_t (&buffer)[kPrefixChars], const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(buffer, kPrefixChars - 1, format, args);
  va_end(args);
  if (n < 0 || static_cast<size_t>(n) >= kPrefixChars - 1) buffer[kPrefixChars - 1] = L'\0';
}

const wchar_t* RtfLevelColour(int level) {
  switch (level) {
    case LOG_NRM: return L"\\cf2";
    case LOG_VRB: return L"\\cf3";
    case LOG_DBG: return L"\\cf4";
    default: return L"\\cf1";
  }
}

void AppendRtfEscaped(std::wstring& out, const std::wstring& text) {
  for (wchar_t c : text) {
    out += c;
    if (c == L'\\') out += L'\\';
  }
}

// Builds one file line in `format`; false for a format that writes nothing.
bool FileLine(const LogEntry& entry, int format, bool showTicks, std::wstring& line) {
  wchar_t prefix[kPrefixChars];
  LocalFields t = ToLocal(entry.time);
  if (format == 0) {
    FormatPrefix(prefix, L"%02d:%02d:%02d %s/%s  ", t.hour, t.minute, t.second,
                 LogLevelName(entry.level), LogCategoryShortName(entry.category));
    line = prefix;
    if (showTicks) {
      FormatPrefix(prefix, L"(%u) ", static_cast<unsigned>(entry.tick));
      line += prefix;
    }
  } else if (format == 1) {
    FormatPrefix(prefix, L"%02d.%02d.%4d\t%02d:%02d:%02d.000\t%u\t%s\t", t.day, t.month, t.year,
                 t.hour, t.minute, t.second,
                 static_cast<unsigned>(static_cast<uint32_t>(entry.time)),
                 LogCategoryName(entry.category));
    line = prefix;
  } else {
    return false;
  }
  line += entry.text;
  line += kLineEnd;
  return true;
}

// Index of the first "Started: " at or after character `from`, or -1. Searches the whole
// length, so a zero character in the file does not end the search early.
ptrdiff_t FindStarted(const wchar_t* text, size_t chars, size_t from) {
  if (from >= chars) return -1;
  const wchar_t* end = text + chars;
  const wchar_t* hit = std::search(text + from, end, kStarted, kStarted + wcslen(kStarted));
  return hit == end ? -1 : hit - text;
}

bool WriteChars(CUFile& file, const std::wstring& s) {
  return file.Write(s.data(), static_cast<uint32_t>(s.size() * sizeof(wchar_t)), nullptr);
}

// Keeps the first run (up to the second "Started: " line) and the runs that start within
// the last keepTail characters; a file without both cut points stays as it is. Works through
// the open file: reads it whole, rewrites it from its start and cuts it at the new end.
DWORD TrimFile(CUFile& file, uint32_t size, uint32_t keepTail, size_t prefixChars) {
  char* buffer = static_cast<char*>(calloc(static_cast<size_t>(size) + 2, 1));
  if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
  uint32_t got = 0;
  if (file.Seek(0, SEEK_SET) < 0) {
    free(buffer);
    return file.lastError;
  }
  file.Read(buffer, size, &got);
  const wchar_t* text = reinterpret_cast<const wchar_t*>(buffer);
  size_t chars = got / sizeof(wchar_t);

  ptrdiff_t head = FindStarted(text, chars, prefixChars + 20);
  size_t tailFrom = (chars > keepTail ? chars - keepTail : 0) + prefixChars;
  ptrdiff_t tail = FindStarted(text, chars, tailFrom);
  DWORD result = 0;
  // A tail cut at or before the head cut (possible only when keepTail is not below half
  // the size limit) would repeat lines instead of dropping any.
  if (head >= 0 && tail >= 0 && tail > head) {
    size_t headEnd = static_cast<size_t>(head) - prefixChars;
    size_t tailStart = static_cast<size_t>(tail) - prefixChars;
    bool ok = file.Seek(0, SEEK_SET) >= 0 &&
              file.Write(text, static_cast<uint32_t>(headEnd * sizeof(wchar_t)), nullptr) &&
              file.Write(buffer + tailStart * sizeof(wchar_t),
                         got - static_cast<uint32_t>(tailStart * sizeof(wchar_t)), nullptr) &&
              file.Truncate();
    if (!ok) result = file.lastError;
  }
  free(buffer);
  return result;
}
}  // namespace

void CLog::GetRtf(std::wstring& out, int maxLevel, const LogCategorySet& categories) {
  out = L"{\\rtf1\\ansi{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}";
  out += L"{\\colortbl ;\\red0\\green0\\blue0;\\red0\\green0\\blue128;\\red0\\green128\\blue0;"
         L"\\red128\\green0\\blue0;}";
  out += L"\\viewkind4\\f0\\fs20";
  wchar_t prefix[kPrefixChars];
  for (const LogEntry& entry : entries) {
    if (entry.level > maxLevel || !categories.Contains(entry.category)) continue;
    LocalFields t = ToLocal(entry.time);
    FormatPrefix(prefix, L"\\cf1 %02d.%02d.%4d %02d:%02d:%02d %s: ", t.day, t.month, t.year,
                 t.hour, t.minute, t.second, LogCategoryName(entry.category));
    out += prefix;
    out += L"\\b";
    out += RtfLevelColour(entry.level);
    out += L" ";
    AppendRtfEscaped(out, entry.text);
    out += L"\\b0\\par";
  }
}

void CLog::GetText(std::wstring& out, int maxLevel, const LogCategorySet& categories) {
  wchar_t prefix[kPrefixChars];
  for (const LogEntry& entry : entries) {
    if (entry.level > maxLevel || !categories.Contains(entry.category)) continue;
    LocalFields t = ToLocal(entry.time);
    FormatPrefix(prefix, L"%02d.%02d.%4d %02d:%02d:%02d %s: ", t.day, t.month, t.year, t.hour,
                 t.minute, t.second, LogCategoryName(entry.category));
    out += prefix;
    out += L" ";
    out += entry.text;
    out += kLineEnd;
  }
}

DWORD CLog::Save(const wchar_t* path, int maxLevel, int format) {
  CUFile file;
  if (!file.OpenReadWrite(path)) return file.lastError;
  return SaveTo(file, maxLevel, format);
}

DWORD CLog::SaveTo(CUFile& file, int maxLevel, int format) {
  bool ok = file.Seek(0, SEEK_END) >= 0;
  if (ok && file.position == 0) {
    static const unsigned char kBom[] = {0xFF, 0xFE};
    ok = file.Write(kBom, sizeof kBom, nullptr);
  }
  std::wstring line;
  for (size_t i = 0; ok && i < entries.size(); ++i) {
    const LogEntry& entry = entries[i];
    if (entry.level > maxLevel) continue;
    if (FileLine(entry, format, showTicks, line)) ok = WriteChars(file, line);
  }
  if (ok && !autoSave) ok = WriteChars(file, L"\r\n\r\n");
  // A failed write (a full disk, say) is reported rather than passed off as a save.
  if (!ok) {
    DWORD error = file.lastError;
    file.Close();
    return error;
  }
  int32_t size = file.GetSize();
  DWORD result = 0;
  if (maxFileSize != 0 && size >= 0 && static_cast<uint32_t>(size) > maxFileSize)
    result = TrimFile(file, static_cast<uint32_t>(size), keepTail, format == 1 ? kPrefixFormat1 : kPrefixFormat0);
  file.Close();
  return result;
}
