// The process-wide in-memory log: entries with a level and a category, renderers
// (RTF, plain text) and UTF-16 text files in two line formats.
#pragma once
#include <windows.h>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

class CUFile;

// Levels: lower is more important.
enum LogLevel : int { LOG_MIN = 0, LOG_NRM = 1, LOG_VRB = 2, LOG_DBG = 3 };

enum LogCategory : int {
  LOG_GENERAL = 0, LOG_FILE = 1, LOG_REGISTRY = 2, LOG_INI = 3,
  LOG_SYSTEM = 4, LOG_PACKAGE = 5, LOG_INTERNET = 6
};

// Capacity, in characters, of a formatted message including its terminator.
constexpr size_t kLogMessageChars = 32768;

const wchar_t* LogLevelName(int level);          // "min".."dbg", "???" otherwise
const wchar_t* LogCategoryName(int category);    // long name, "???" otherwise
const wchar_t* LogCategoryShortName(int category);

struct LogEntry {
  int64_t time;       // seconds since 1970-01-01 UTC
  uint32_t tick;      // GetTickCount() when added
  int category;
  int level;
  std::wstring text;
};

// A set of categories: category n is in the set when bit (n % 32) of word (n / 32) is 1.
// The set from All() holds every category, including values outside the named ones.
struct LogCategorySet {
  std::vector<uint32_t> words;
  bool everyCategory = false;
  static LogCategorySet All();
  static LogCategorySet Of(std::initializer_list<int> categories);
  bool Contains(int category) const;
};

class CLog {
 public:
  CLog();
  CLog(const CLog&) = delete;
  CLog& operator=(const CLog&) = delete;

  // Formats into a 32,768-character buffer (longer text is cut) and adds an entry.
  virtual void Print(int level, int category, const wchar_t* format, ...);
  // Replaces `out` with an RTF document of the selected entries (outer group left open).
  virtual void GetRtf(std::wstring& out, int maxLevel, const LogCategorySet& categories);
  // Appends one plain-text line per selected entry to `out`.
  virtual void GetText(std::wstring& out, int maxLevel, const LogCategorySet& categories);

  void AddEntry(const wchar_t* text, int level, int category);
  // Appends every entry with level <= maxLevel to the UTF-16 file `path` in line format
  // 0 or 1, then trims the file when it grew past maxFileSize. Returns a Windows code.
  DWORD Save(const wchar_t* path, int maxLevel, int format);
  // The same through a file that is already open (read and write): nothing is opened by name.
  DWORD SaveTo(CUFile& file, int maxLevel, int format);

  std::vector<LogEntry> entries;
  uint32_t maxFileSize = 4194304;
  uint32_t keepTail = 0x19000;
  bool showTicks = false;
  std::wstring autoSavePath;
  bool autoSave = false;
  int32_t autoSaveEvery = 0;
  int32_t autoSaveCounter = 0;
  int32_t autoSaveLevel = 0;
  int32_t autoSaveFormat = 0;
  bool enabled = true;
};

// The one log of the process, constructed during static initialisation.
extern CLog g_log;

// Logs `first` immediately followed by `second` ("%s%s") on g_log.
void PrintPair(int level, int category, const wchar_t* first, const wchar_t* second);
