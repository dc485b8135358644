// "/report PATH": a small JSON document for inventory tools about one run (or dry run), and
// the writer that puts it on disk without following links.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "catalog/probe.h"

// A wide string as a JSON string literal in UTF-8, quotes included: quotes, backslashes and
// control characters escaped, surrogate pairs as one 4-byte sequence, a lone surrogate as
// U+FFFD.
std::string JsonString(const std::wstring& text);

// Per step of the run: items found before it, removed by it, refused, still there after it.
struct StepCounts {
  unsigned attempted = 0, removed = 0, refused = 0, left = 0;
};

// Everything the document says; the start-up fills it.
struct ReportFacts {
  std::wstring version, computer, guid, mode;
  DWORD osMajor = 0, osMinor = 0, osBuild = 0;
  std::wstring servicePack;
  unsigned bits = 32;
  bool safeMode = false, selfProtection = false;
  SYSTEMTIME start = {}, end = {};
  std::vector<std::wstring> switches;
  bool productFound = false;
  std::wstring productCode, programFolder, dataFolder, folderSource;
  DWORD productVersion = 0;
  std::vector<StepCounts> steps;  // one per kProbeSteps entry
  ResidueList remaining;
  std::vector<bool> queued;       // per remaining item: in the restart queue
  RefusalList refused;
  int exitCode = 0;
};

// The per-step counts from the probe before and after a run (or one probe for a dry run,
// passed as both) and the refusals.
std::vector<StepCounts> CountSteps(const ResidueList& before, const ResidueList& after, const RefusalList& refused);

// The document, UTF-8 without a byte-order mark.
std::string BuildReport(const ReportFacts& facts);

// Writes data to path: the path must be plain and absolute, and no folder on it nor the file
// itself a link; an existing file is replaced only when WrittenFileFault accepts it. Written
// to a new temporary file beside it, then renamed over it. 0, or the error and in `why` a
// reason for the log when there is one beyond the code.
DWORD WriteFileSafely(const std::wstring& path, const std::string& data, std::wstring* why);
