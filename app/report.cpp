#include "app/report.h"

#include "base/handles.h"
#include "sysops/folder_trust.h"
#include "sysops/nofollow.h"

namespace {
void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

void AppendEscape(std::string& out, unsigned code) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
}

std::string Decimal(unsigned long long n) {
  char digits[24];
  int i = 0;
  do {
    digits[i++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n);
  std::string out;
  while (i) out += digits[--i];
  return out;
}

std::string Padded(unsigned n, size_t width) {
  std::string text = Decimal(n);
  return std::string(text.size() < width ? width - text.size() : 0, '0') + text;
}

// "2026-12-09T06:40:00Z".
std::string IsoTime(const SYSTEMTIME& t) {
  return Padded(t.wYear, 4) + "-" + Padded(t.wMonth, 2) + "-" + Padded(t.wDay, 2) + "T" + Padded(t.wHour, 2) + ":" +
         Padded(t.wMinute, 2) + ":" + Padded(t.wSecond, 2) + "Z";
}

// A JSON object written member by member.
class Object {
 public:
  explicit Object(std::string& out) : out_(out) { out_ += "{"; }
  ~Object() { out_ += "}"; }
  std::string& Key(const char* name) {
    if (!first_) out_ += ",";
    first_ = false;
    out_ += "\"";
    out_ += name;
    out_ += "\":";
    return out_;
  }
  void Text(const char* name, const std::wstring& value) { Key(name) += JsonString(value); }
  void Number(const char* name, unsigned long long value) { Key(name) += Decimal(value); }
  void Flag(const char* name, bool value) { Key(name) += value ? "true" : "false"; }
  // A string made only of ASCII digits and punctuation: needs no escaping.
  void Ascii(const char* name, const std::string& value) { Key(name) += "\"" + value + "\""; }

 private:
  std::string& out_;
  bool first_ = true;
};

const wchar_t* StepName(int step) {
  return step >= 0 && static_cast<size_t>(step) < kProbeStepCount ? kProbeSteps[step].name : L"";
}

void WriteProduct(Object& top, const ReportFacts& f) {
  std::string& out = top.Key("product");
  if (!f.productFound) {
    out += "null";
    return;
  }
  Object product(out);
  product.Text("code", f.productCode);
  product.Text("programFolder", f.programFolder);
  product.Text("dataFolder", f.dataFolder);
  product.Text("folderSource", f.folderSource);
  product.Number("version", f.productVersion);
}

void WriteSteps(Object& top, const ReportFacts& f) {
  std::string& out = top.Key("steps");
  out += "[";
  for (size_t i = 0; i < f.steps.size() && i < kProbeStepCount; ++i) {
    if (i) out += ",";
    Object step(out);
    step.Text("name", kProbeSteps[i].name);
    step.Number("attempted", f.steps[i].attempted);
    step.Number("removed", f.steps[i].removed);
    step.Number("refused", f.steps[i].refused);
    step.Number("left", f.steps[i].left);
  }
  out += "]";
}

void WriteRemaining(Object& top, const ReportFacts& f) {
  std::string& out = top.Key("remaining");
  out += "[";
  for (size_t i = 0; i < f.remaining.size(); ++i) {
    const Residue& r = f.remaining[i];
    if (i) out += ",";
    Object item(out);
    item.Text("step", StepName(r.step));
    item.Text("kind", r.kind);
    item.Text("view", r.view);
    item.Text("path", r.what);
    item.Text("state", i < f.queued.size() && f.queued[i] ? L"queued" : L"present");
  }
  out += "]";
}

void WriteRefused(Object& top, const ReportFacts& f) {
  std::string& out = top.Key("refused");
  out += "[";
  for (size_t i = 0; i < f.refused.size(); ++i) {
    if (i) out += ",";
    Object item(out);
    item.Text("step", StepName(f.refused[i].step));
    item.Text("kind", f.refused[i].kind);
    item.Text("path", f.refused[i].what);
    item.Text("reason", f.refused[i].reason);
  }
  out += "]";
}

bool SameItem(const Residue& a, const Residue& b) {
  return a.step == b.step && a.kind == b.kind && a.view == b.view && _wcsicmp(a.what.c_str(), b.what.c_str()) == 0;
}

bool Contains(const ResidueList& list, const Residue& item) {
  for (const Residue& r : list)
    if (SameItem(r, item)) return true;
  return false;
}

// --- the safe write ---------------------------------------------------------------------

std::wstring TemporaryNameBeside(const std::wstring& path) {
  std::string tick = Decimal(GetTickCount() ^ (GetCurrentProcessId() << 16));
  return path + L"." + std::wstring(tick.begin(), tick.end()) + L".tmp";
}

DWORD WriteNewFile(const std::wstring& path, const std::string& data) {
  // CREATE_NEW never opens what is already there, a link included.
  UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return GetLastError();
  DWORD written = 0;
  if (!WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) || written != data.size())
    return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
  return FlushFileBuffers(file.get()) ? 0 : GetLastError();
}

// 0 when nothing is at path or what is there may be replaced; else the code and, in `why`,
// the reason.
DWORD CheckExistingTarget(const std::wstring& path, std::wstring* why) {
  UniqueKernelHandle existing;
  DWORD rc = OpenNoFollow(path, false, READ_CONTROL | FILE_READ_ATTRIBUTES, existing);
  if (rc == ERROR_FILE_NOT_FOUND) return 0;
  if (rc == kErrorLinkOnPath) {
    *why = L"a link is on its path";
    return ERROR_ACCESS_DENIED;
  }
  if (rc) return rc;
  if (const wchar_t* fault = WrittenFileFault(existing.get(), path.c_str())) {
    *why = fault;
    return ERROR_ACCESS_DENIED;
  }
  return 0;
}
}  // namespace

std::string JsonString(const std::wstring& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned c = text[i];
    switch (c) {
      case L'"': out += "\\\""; continue;
      case L'\\': out += "\\\\"; continue;
      case L'\b': out += "\\b"; continue;
      case L'\f': out += "\\f"; continue;
      case L'\n': out += "\\n"; continue;
      case L'\r': out += "\\r"; continue;
      case L'\t': out += "\\t"; continue;
    }
    if (c < 0x20) {
      AppendEscape(out, c);
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned>(text[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);  // a lone surrogate has no UTF-8 form
    } else {
      AppendUtf8(out, c);
    }
  }
  return out + "\"";
}

std::vector<StepCounts> CountSteps(const ResidueList& before, const ResidueList& after, const RefusalList& refused) {
  std::vector<StepCounts> counts(kProbeStepCount);
  for (const Residue& r : before) {
    if (r.step < 0 || static_cast<size_t>(r.step) >= kProbeStepCount) continue;
    ++counts[r.step].attempted;
    if (!Contains(after, r)) ++counts[r.step].removed;
  }
  for (const Residue& r : after)
    if (r.step >= 0 && static_cast<size_t>(r.step) < kProbeStepCount) ++counts[r.step].left;
  for (const Refusal& r : refused)
    if (r.step >= 0 && static_cast<size_t>(r.step) < kProbeStepCount) ++counts[r.step].refused;
  return counts;
}

std::string BuildReport(const ReportFacts& f) {
  std::string out;
  {
    Object top(out);
    top.Number("schema", 1);
    top.Text("program", L"qtxClear");
    top.Text("version", f.version);
    top.Text("computer", f.computer);
    top.Text("guid", f.guid);
    {
      Object windows(top.Key("windows"));
      windows.Ascii("version", Decimal(f.osMajor) + "." + Decimal(f.osMinor) + "." + Decimal(f.osBuild));
      windows.Text("servicePack", f.servicePack);
      windows.Number("bits", f.bits);
      windows.Flag("safeMode", f.safeMode);
    }
    top.Ascii("start", IsoTime(f.start));
    top.Ascii("end", IsoTime(f.end));
    top.Text("mode", f.mode);
    std::string& switches = top.Key("switches");
    switches += "[";
    for (size_t i = 0; i < f.switches.size(); ++i) switches += (i ? "," : "") + JsonString(f.switches[i]);
    switches += "]";
    top.Flag("selfProtection", f.selfProtection);
    WriteProduct(top, f);
    WriteSteps(top, f);
    WriteRemaining(top, f);
    WriteRefused(top, f);
    top.Number("exitCode", static_cast<unsigned>(f.exitCode));
  }
  return out + "\n";
}

DWORD WriteFileSafely(const std::wstring& path, const std::string& data, std::wstring* why) {
  why->clear();
  size_t slash = path.rfind(L'\\');
  if (!IsPlainAbsolutePath(path) || slash == std::wstring::npos || slash + 1 == path.size()) {
    *why = L"not a plain absolute path";
    return ERROR_BAD_PATHNAME;
  }
  // The folder is held without delete sharing while the file is written and renamed, so that
  // it cannot be swapped for a link in the meantime.
  UniqueKernelHandle folder;
  DWORD rc = OpenNoFollow(path.substr(0, slash + 1), true, FILE_LIST_DIRECTORY | FILE_TRAVERSE, folder);
  if (rc == kErrorLinkOnPath) *why = L"a link is on its path";
  if (rc == 0) rc = CheckExistingTarget(path, why);
  if (rc) return rc;
  std::wstring temporary = TemporaryNameBeside(path);
  rc = WriteNewFile(temporary, data);
  if (rc == 0 && !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    rc = GetLastError();
  if (rc != 0) DeleteFileW(temporary.c_str());
  return rc;
}
