#include "log/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/test_support.h"

using qtxtest::ReadBytes;
using qtxtest::ScratchDir;
using qtxtest::WriteBytes;

namespace {
// The log does not convert a time before 1970 to local time, so entries stamped with it
// print the fixed fallback date and the output is the same on every machine.
constexpr int64_t kNoLocalTime = -1;
// A time that does convert: 2023-11-14 22:13:20 UTC.
constexpr int64_t kRealTime = 1700000000;

LogEntry Entry(int level, int category, const std::wstring& text, int64_t time = kNoLocalTime,
               uint32_t tick = 0) {
  return LogEntry{time, tick, category, level, text};
}

std::string Bytes(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

const std::string kBom = "\xFF\xFE";

// "dd.mm.yyyy hh:mm:ss" of `seconds` in the local zone, found through the Windows time-zone
// functions.
std::wstring LocalStamp(int64_t seconds) {
  ULARGE_INTEGER value;
  value.QuadPart = (static_cast<uint64_t>(seconds) + 11644473600ull) * 10000000ull;
  FILETIME ft{value.LowPart, value.HighPart};
  SYSTEMTIME utc, local;
  FileTimeToSystemTime(&ft, &utc);
  SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  wchar_t buffer[64];
  swprintf(buffer, 64, L"%02u.%02u.%4u %02u:%02u:%02u", local.wDay, local.wMonth, local.wYear,
           local.wHour, local.wMinute, local.wSecond);
  return buffer;
}

std::string FileBytes(const std::wstring& path) {
  std::string bytes;
  EXPECT_TRUE(ReadBytes(path, &bytes));
  return bytes;
}
}  // namespace

TEST(LogCategorySet, BitsPerWordAndEverything) {
  LogCategorySet set = LogCategorySet::Of({LOG_REGISTRY, 33, -4});
  for (int c : {2, 33}) EXPECT_TRUE(set.Contains(c)) << c;
  for (int c : {1, 2 + 32, 1 + 64, -4}) EXPECT_FALSE(set.Contains(c)) << c;
  for (int c : {0, 6, 9, -1}) EXPECT_TRUE(LogCategorySet::All().Contains(c));
}

TEST(LogPrint, FormatsRecordsAndCutsLongText) {
  CLog log;
  log.Print(LOG_VRB, LOG_REGISTRY, L"Deleted registry: %s (%d)", L"HKLM\\Software\\X", 5);
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].text, L"Deleted registry: HKLM\\Software\\X (5)");
  EXPECT_NEAR(static_cast<double>(log.entries[0].time), static_cast<double>(time(nullptr)), 5);

  std::wstring exact(32767, L'e');
  log.Print(LOG_MIN, LOG_GENERAL, L"%s", exact.c_str());
  EXPECT_EQ(log.entries.back().text, exact);

  std::wstring longer(40000, L'x');
  longer[32766] = L'A';
  longer[32767] = L'B';
  log.Print(LOG_MIN, LOG_GENERAL, L"%s", longer.c_str());
  EXPECT_EQ(log.entries.back().text.size(), 32767u);
  EXPECT_EQ(log.entries.back().text.back(), L'A');

  log.enabled = false;
  log.Print(LOG_MIN, LOG_GENERAL, L"not recorded");
  log.AddEntry(L"not recorded either", LOG_MIN, LOG_GENERAL);
  EXPECT_EQ(log.entries.size(), 3u);
}

TEST(LogPrint, PrintPairJoinsOnTheGlobalLog) {
  qtxtest::ClearLog();
  PrintPair(LOG_MIN, LOG_REGISTRY, L"Cannot create reg. key:", L"Software\\100%s");
  PrintPair(LOG_MIN, LOG_FILE, L"Only first", nullptr);
  EXPECT_TRUE(qtxtest::LogHas(L"Cannot create reg. key:Software\\100%s", LOG_MIN, LOG_REGISTRY));
  EXPECT_TRUE(qtxtest::LogHas(L"Only first", LOG_MIN, LOG_FILE));

  std::wstring half(20000, L'h');
  PrintPair(LOG_MIN, LOG_GENERAL, half.c_str(), half.c_str());
  EXPECT_EQ(g_log.entries.back().text.size(), 32767u);
  qtxtest::ClearLog();
}

TEST(LogRender, RtfDocumentColoursAndEscapes) {
  CLog log;
  log.entries.push_back(Entry(LOG_MIN, LOG_GENERAL, L"zero"));
  log.entries.push_back(Entry(LOG_NRM, LOG_FILE, L"C:\\a\\b {x}"));
  log.entries.push_back(Entry(LOG_VRB, LOG_REGISTRY, L"two"));
  log.entries.push_back(Entry(LOG_DBG, LOG_SYSTEM, L"three"));
  log.entries.push_back(Entry(7, 9, L"odd"));
  std::wstring out = L"replaced";
  log.GetRtf(out, 100, LogCategorySet::All());
  const std::wstring head =
      L"{\\rtf1\\ansi{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}"
      L"{\\colortbl ;\\red0\\green0\\blue0;\\red0\\green0\\blue128;\\red0\\green128\\blue0;"
      L"\\red128\\green0\\blue0;}\\viewkind4\\f0\\fs20";
  EXPECT_EQ(out, head +
                     L"\\cf1 00.01.1900 00:00:00 general: \\b\\cf1 zero\\b0\\par"
                     L"\\cf1 00.01.1900 00:00:00 file: \\b\\cf2 C:\\\\a\\\\b {x}\\b0\\par"
                     L"\\cf1 00.01.1900 00:00:00 registry: \\b\\cf3 two\\b0\\par"
                     L"\\cf1 00.01.1900 00:00:00 system: \\b\\cf4 three\\b0\\par"
                     L"\\cf1 00.01.1900 00:00:00 ???: \\b\\cf1 odd\\b0\\par");

  log.GetRtf(out, LOG_NRM, LogCategorySet::Of({LOG_FILE, LOG_REGISTRY}));
  EXPECT_EQ(out, head + L"\\cf1 00.01.1900 00:00:00 file: \\b\\cf2 C:\\\\a\\\\b {x}\\b0\\par");
}

TEST(LogRender, TextAppendsSelectedLines) {
  CLog log;
  log.entries.push_back(Entry(LOG_MIN, LOG_REGISTRY, L"reg error"));
  log.entries.push_back(Entry(LOG_VRB, LOG_REGISTRY, L"reg detail"));
  log.entries.push_back(Entry(LOG_MIN, LOG_FILE, L"file error"));
  log.entries.push_back(Entry(LOG_MIN, LOG_REGISTRY, L"reg at a real time", kRealTime));
  std::wstring out = L"kept|";
  log.GetText(out, LOG_MIN, LogCategorySet::Of({LOG_REGISTRY}));
  EXPECT_EQ(out, L"kept|00.01.1900 00:00:00 registry:  reg error\r\n" + LocalStamp(kRealTime) +
                     L" registry:  reg at a real time\r\n");
}

TEST(LogSave, Format0BytesAndByteOrderMarkOnce) {
  std::wstring path = ScratchDir(L"log_save0") + L"\\log.txt";
  CLog log;
  log.entries.push_back(Entry(LOG_MIN, LOG_REGISTRY, L"first"));
  log.entries.push_back(Entry(8, LOG_FILE, L"too detailed"));
  log.entries.push_back(Entry(7, 9, L"odd"));
  ASSERT_EQ(log.Save(path.c_str(), 7, 0), 0u);
  std::string once = kBom + Bytes(L"00:00:00 min/reg  first\r\n"
                                  L"00:00:00 ?\?\?/?\?\?  odd\r\n\r\n\r\n");
  EXPECT_EQ(FileBytes(path), once);

  log.showTicks = true;
  log.entries = {Entry(LOG_NRM, LOG_SYSTEM, L"ticked", kNoLocalTime, 4000000000u)};
  ASSERT_EQ(log.Save(path.c_str(), LOG_NRM, 0), 0u);
  EXPECT_EQ(FileBytes(path), once + Bytes(L"00:00:00 nrm/sys  (4000000000) ticked\r\n\r\n\r\n"));
  EXPECT_EQ(log.entries.size(), 1u);  // saving keeps the entries
}

TEST(LogSave, Format1BytesAndOtherFormats) {
  std::wstring dir = ScratchDir(L"log_save1");
  std::wstring path = dir + L"\\log.txt";
  CLog log;
  log.entries.push_back(Entry(LOG_MIN, LOG_SYSTEM, L"service gone"));
  log.entries.push_back(Entry(LOG_NRM, LOG_FILE, L"at a real time", kRealTime));
  ASSERT_EQ(log.Save(path.c_str(), LOG_NRM, 1), 0u);
  std::wstring stamp = LocalStamp(kRealTime);
  stamp[10] = L'\t';
  EXPECT_EQ(FileBytes(path),
            kBom + Bytes(L"00.01.1900\t00:00:00.000\t4294967295\tsystem\tservice gone\r\n" + stamp +
                         L".000\t1700000000\tfile\tat a real time\r\n\r\n\r\n"));

  // An unknown format writes no entry lines; automatic saving adds no blank lines.
  std::wstring other = dir + L"\\other.txt";
  ASSERT_EQ(log.Save(other.c_str(), LOG_NRM, 5), 0u);
  EXPECT_EQ(FileBytes(other), kBom + Bytes(L"\r\n\r\n"));
  std::wstring quiet = dir + L"\\quiet.txt";
  log.autoSave = true;
  ASSERT_EQ(log.Save(quiet.c_str(), LOG_MIN, 0), 0u);
  EXPECT_EQ(FileBytes(quiet), kBom + Bytes(L"00:00:00 min/sys  service gone\r\n"));

  EXPECT_EQ(log.Save((dir + L"\\no such folder\\log.txt").c_str(), LOG_MIN, 0), 2u);
}

TEST(LogSave, AutoSaveWritesEveryNPlusOneEntries) {
  std::wstring path = ScratchDir(L"log_autosave") + L"\\auto.txt";
  CLog log;
  log.autoSavePath = path;
  log.autoSave = true;
  log.autoSaveEvery = 2;
  log.autoSaveLevel = LOG_NRM;
  log.Print(LOG_MIN, LOG_GENERAL, L"one");
  log.Print(LOG_VRB, LOG_GENERAL, L"two");
  EXPECT_FALSE(qtxtest::PathExists(path));
  EXPECT_EQ(log.autoSaveCounter, 2);
  log.Print(LOG_NRM, LOG_GENERAL, L"three");
  EXPECT_TRUE(log.entries.empty());
  EXPECT_EQ(log.autoSaveCounter, 0);

  std::string bytes = FileBytes(path);
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
  // Two format-0 lines, the level filter applied, no blank lines after them.
  ASSERT_EQ(text.size(), 18 + 5 + 18 + 7u);
  EXPECT_EQ(text.substr(8, 15) + text.substr(31), L" min/gen  one\r\n nrm/gen  three\r\n");

  // A counter that cannot grow further still saves instead of wrapping around.
  log.autoSaveEvery = INT32_MAX - 1;
  log.autoSaveCounter = INT32_MAX;
  log.Print(LOG_MIN, LOG_GENERAL, L"four");
  EXPECT_TRUE(log.entries.empty());
  EXPECT_EQ(log.autoSaveCounter, 0);
}

namespace {
// One run of `lines` format-0 lines of 40 characters, starting with a "Started: " line.
std::wstring AddRun(CLog& log, wchar_t id, int lines) {
  std::wstring expected;
  for (int i = 0; i < lines; ++i) {
    std::wstring text = i == 0 ? L"Started: run " : L"working in run ";
    text += id;
    text.resize(20, L'.');
    log.entries.push_back(Entry(LOG_MIN, LOG_GENERAL, text));
    expected += L"00:00:00 min/gen  " + text + L"\r\n";
  }
  return expected;
}
}  // namespace

TEST(LogSave, TrimKeepsFirstRunAndRunsStartingInTheTail) {
  std::wstring dir = ScratchDir(L"log_trim");
  // Six runs of 200 characters: BOM + 1200 + 4 = 1205 characters, 2410 bytes.
  CLog log;
  std::wstring runs[6];
  for (int i = 0; i < 6; ++i) runs[i] = AddRun(log, static_cast<wchar_t>(L'0' + i), 5);
  std::wstring whole;
  for (const std::wstring& r : runs) whole += r;
  whole += L"\r\n\r\n";

  log.maxFileSize = 2410;  // not above the limit: untouched
  log.keepTail = 300;
  std::wstring path = dir + L"\\at_limit.txt";
  ASSERT_EQ(log.Save(path.c_str(), LOG_MIN, 0), 0u);
  EXPECT_EQ(FileBytes(path), kBom + Bytes(whole));

  log.maxFileSize = 2000;
  // The tail search starts at character 1205 - 300 + 18 = 923: run 5 starts at 1001.
  path = dir + L"\\last_run.txt";
  ASSERT_EQ(log.Save(path.c_str(), LOG_MIN, 0), 0u);
  EXPECT_EQ(FileBytes(path), kBom + Bytes(runs[0] + runs[5] + L"\r\n\r\n"));

  // From character 723 on: runs 4 (801) and 5 stay.
  log.keepTail = 500;
  path = dir + L"\\two_runs.txt";
  ASSERT_EQ(log.Save(path.c_str(), LOG_MIN, 0), 0u);
  EXPECT_EQ(FileBytes(path), kBom + Bytes(runs[0] + runs[4] + runs[5] + L"\r\n\r\n"));

  // No run starts within the last keepTail characters: the file stays as written.
  log.keepTail = 150;
  path = dir + L"\\no_tail.txt";
  ASSERT_EQ(log.Save(path.c_str(), LOG_MIN, 0), 0u);
  EXPECT_EQ(FileBytes(path), kBom + Bytes(whole));
}

TEST(LogSave, TrimFormat1CutsAtLineStarts) {
  std::wstring path = ScratchDir(L"log_trim1") + L"\\log1.txt";
  CLog log;
  std::wstring expected[4];
  for (int r = 0; r < 4; ++r) {
    for (int i = 0; i < 4; ++i) {
      std::wstring text = (i == 0 ? L"Started: " : L"step ") + std::to_wstring(r * 10 + i);
      log.entries.push_back(Entry(LOG_MIN, LOG_SYSTEM, text));
      expected[r] += L"00.01.1900\t00:00:00.000\t4294967295\tsystem\t" + text + L"\r\n";
    }
  }
  log.maxFileSize = 600;
  log.keepTail = 230;
  ASSERT_EQ(log.Save(path.c_str(), LOG_MIN, 1), 0u);
  EXPECT_EQ(FileBytes(path), kBom + Bytes(expected[0] + expected[3] + L"\r\n\r\n"));
}
