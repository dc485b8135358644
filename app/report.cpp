#include "app/report.h"

#include <aclapi.h>

#include "base/handles.h"

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

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// No folder on the way to the file is a link (checked from the drive or share root down).
bool NoLinkOnTheWay(const std::wstring& path) {
  size_t start = path.compare(0, 2, L"\\\\") == 0 ? path.find(L'\\', path.find(L'\\', 2) + 1) : 2;
  for (size_t at = path.find(L'\\', start + 1); at != std::wstring::npos; at = path.find(L'\\', at + 1))
    if (IsLink(GetFileAttributesW(path.substr(0, at).c_str()))) return false;
  return true;
}

bool OwnedByAdministratorsOrSystem(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  UniqueLocalMem held(descriptor);
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  BYTE admins[SECURITY_MAX_SID_SIZE] = {0}, system[SECURITY_MAX_SID_SIZE] = {0};
  InitializeSid(admins, &nt, 2);
  *GetSidSubAuthority(admins, 0) = SECURITY_BUILTIN_DOMAIN_RID;
  *GetSidSubAuthority(admins, 1) = DOMAIN_ALIAS_RID_ADMINS;
  InitializeSid(system, &nt, 1);
  *GetSidSubAuthority(system, 0) = SECURITY_LOCAL_SYSTEM_RID;
  return owner && (EqualSid(owner, admins) || EqualSid(owner, system));
}

// 0 when there is no file at path or it may be replaced.
DWORD CheckExistingTarget(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
  }
  if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return ERROR_ACCESS_DENIED;
  UniqueKernelHandle file(CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) return GetLastError();
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return ERROR_ACCESS_DENIED;
  return OwnedByAdministratorsOrSystem(file.get()) ? 0 : ERROR_ACCESS_DENIED;
}

DWORD WriteNewFile(const std::wstring& path, const std::string& data) {
  UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError();
  DWORD written = 0;
  if (!WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) || written != data.size())
    return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
  return FlushFileBuffers(file.get()) ? 0 : GetLastError();
}

std::wstring TemporaryNameBeside(const std::wstring& path) {
  std::string tick = Decimal(GetTickCount() ^ (GetCurrentProcessId() << 16));
  return path + L"." + std::wstring(tick.begin(), tick.end()) + L".tmp";
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
      AppendEscape(out, c);
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

DWORD WriteFileSafely(const std::wstring& path, const std::string& data) {
  bool absolute = (path.size() > 3 && path[1] == L':' && path[2] == L'\\') || path.compare(0, 2, L"\\\\") == 0;
  if (!absolute || path.find(L'/') != std::wstring::npos) return ERROR_BAD_PATHNAME;
  if (!NoLinkOnTheWay(path)) return ERROR_ACCESS_DENIED;
  DWORD rc = CheckExistingTarget(path);
  if (rc != 0) return rc;
  std::wstring temporary = TemporaryNameBeside(path);
  rc = WriteNewFile(temporary, data);
  if (rc == 0 && !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    rc = GetLastError();
  if (rc != 0) DeleteFileW(temporary.c_str());
  return rc;
}
