// The driver step: the keyboard filter walk over every control set, the whole step on a
// prefix planted with the suite's drivers, services, tags, filters and registrations, the
// presence probe before and after, and the Windows-version gates (in child processes that
// Wine tells an older Windows version).
//
// Wine limits met here: HKLM\SYSTEM has no ControlSetNNN keys (the tests create them); the
// network configuration engine cannot search for components (E_NOTIMPL), so no component is
// removed or reported by the probe, and a component's driver package stays and is still
// reported after the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/drivers.h"
#include "base/wow64.h"
#include "catalog/probe.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/files.h"
#include "sysops/reboot_queue.h"
#include "tests/hives/hive_test_util.h"
#include "tests/registry/reg_test_util.h"
#include "tests/support/test_support.h"

using namespace qtxtest;
using namespace regtest;

namespace {
const std::wstring kKbdClass = L"\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}";
const std::wstring kServices = L"SYSTEM\\CurrentControlSet\\Services\\";
const std::wstring kOrderList = L"SYSTEM\\CurrentControlSet\\Control\\GroupOrderList";
const std::wstring kFltMgr = L"SYSTEM\\CurrentControlSet\\Services\\fltmgr";
const wchar_t kGroup[] = L"QtxTestFilters";

std::wstring MultiSz(const wchar_t* s, size_t chars) { return std::wstring(s, chars); }
#define MSZ(lit) MultiSz(lit, sizeof(lit) / sizeof(wchar_t) - 1)

bool SetMultiSz(const std::wstring& key, const wchar_t* name, const std::wstring& data) {
  return SetValue(HKEY_LOCAL_MACHINE, key, name, REG_MULTI_SZ, data.data(),
                  static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}
std::wstring GetMultiSz(const std::wstring& key, const wchar_t* name) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!GetValue(HKEY_LOCAL_MACHINE, key, name, &type, &data)) return L"<missing>";
  return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
}
std::string Show(const std::wstring& s) {
  std::wstring out;
  for (wchar_t c : s) out += c ? std::wstring(1, c) : L"\\0";
  return Narrow(out);
}

std::vector<DWORD> GroupTags() {
  DWORD type = 0;
  std::vector<BYTE> data;
  std::vector<DWORD> tags;
  if (!GetValue(HKEY_LOCAL_MACHINE, kOrderList, kGroup, &type, &data) || data.size() < 4) return tags;
  const DWORD* p = reinterpret_cast<const DWORD*>(data.data());
  EXPECT_EQ(data.size(), 4 + 4 * p[0]) << "count and size disagree";
  tags.assign(p + 1, p + data.size() / 4);
  return tags;
}
void SetGroupTags(const std::vector<DWORD>& tags) {
  std::vector<DWORD> data(1, static_cast<DWORD>(tags.size()));
  data.insert(data.end(), tags.begin(), tags.end());
  SetValue(HKEY_LOCAL_MACHINE, kOrderList, kGroup, REG_BINARY, data.data(), static_cast<DWORD>(data.size() * 4));
}
void TagService(const std::wstring& name, DWORD tag) {
  MakeKey(HKEY_LOCAL_MACHINE, kServices + name);
  SetText(HKEY_LOCAL_MACHINE, kServices + name, L"Group", kGroup);
  SetValue(HKEY_LOCAL_MACHINE, kServices + name, L"Tag", REG_DWORD, &tag, sizeof tag);
}

bool CreateTestService(const std::wstring& name, DWORD type) {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!scm) return false;
  std::wstring image = L"system32\\drivers\\" + name + L".sys";
  SC_HANDLE svc = CreateServiceW(scm, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, type, SERVICE_DEMAND_START,
                                 SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (svc) CloseServiceHandle(svc);
  CloseServiceHandle(scm);
  return svc != nullptr;
}
bool ServiceExists(const std::wstring& name) {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE svc = scm ? OpenServiceW(scm, name.c_str(), SERVICE_QUERY_CONFIG) : nullptr;
  if (svc) CloseServiceHandle(svc);
  if (scm) CloseServiceHandle(scm);
  return svc != nullptr;
}
void DeleteTestService(const std::wstring& name) {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE svc = scm ? OpenServiceW(scm, name.c_str(), DELETE) : nullptr;
  if (svc) {
    DeleteService(svc);
    CloseServiceHandle(svc);
  }
  if (scm) CloseServiceHandle(scm);
  RemoveKey(HKEY_LOCAL_MACHINE, kServices + name);
}

void DeleteValueOf(HKEY root, const std::wstring& key, const wchar_t* name, REGSAM view = 0) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE | view, &h) != ERROR_SUCCESS) return;
  RegDeleteValueW(h, name);
  RegCloseKey(h);
}

// The test plants and checks the native system folder's files as themselves: in the 32-bit
// build under WOW64 only with redirection off (a no-op elsewhere).
using NativeFileAccess = FsRedirectionOff;

std::wstring SystemFolder(bool native) {
  wchar_t buffer[MAX_PATH] = {0};
  if (native)
    GetSystemDirectoryW(buffer, MAX_PATH);
  else
    GetSystemWow64DirectoryW(buffer, MAX_PATH);
  return buffer;
}
}  // namespace

// --- Keyboard class filters --------------------------------------------------------------

TEST(KeyboardFilters, FirstQtxKbdGoesInEveryControlSetOnly) {
  struct Case {
    const char* what;
    std::wstring before, after;
  };
  const Case cases[] = {
      {"qtxKbd first", MSZ(L"qtxKbd\0kbdclass\0\0"), MSZ(L"kbdclass\0\0")},
      {"only kbdclass", MSZ(L"kbdclass\0\0"), MSZ(L"kbdclass\0\0")},
      {"qtxKbd twice", MSZ(L"qtxKbd\0qtxKbd\0kbdclass\0\0"), MSZ(L"qtxKbd\0kbdclass\0\0")},
      {"no final empty string", MSZ(L"kbdclass\0qtxKbd\0"), MSZ(L"kbdclass\0")},
      {"last entry unterminated", MSZ(L"kbdclass\0QTXKBD"), MSZ(L"kbdclass\0")},
      {"after the closing empty entry", MSZ(L"kbdclass\0\0qtxKbd\0\0"), MSZ(L"kbdclass\0\0qtxKbd\0\0")},
      {"longer name", MSZ(L"qtxKbdX\0\0"), MSZ(L"qtxKbdX\0\0")},
      {"empty list", MSZ(L"\0"), MSZ(L"\0")},
  };
  const std::wstring sets[] = {L"SYSTEM\\ControlSet001", L"SYSTEM\\ControlSet002"};
  const std::wstring current = L"SYSTEM\\CurrentControlSet" + kKbdClass;
  bool hadSelect = KeyExists(HKEY_LOCAL_MACHINE, L"SYSTEM\\Select");
  bool hadClass = KeyExists(HKEY_LOCAL_MACHINE, current);
  MakeKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\Select");
  for (const Case& c : cases) {
    for (const std::wstring& set : sets) ASSERT_TRUE(SetMultiSz(set + kKbdClass, L"UpperFilters", c.before));
    ASSERT_TRUE(SetMultiSz(current, L"UpperFilters", MSZ(L"qtxKbd\0kbdclass\0\0")));
    ClearLog();
    RemoveKeyboardFilterEntries();
    for (const std::wstring& set : sets)
      EXPECT_EQ(GetMultiSz(set + kKbdClass, L"UpperFilters"), c.after) << c.what << " in " << Narrow(set) << ": "
                                                                       << Show(GetMultiSz(set + kKbdClass, L"UpperFilters"));
    EXPECT_EQ(GetMultiSz(current, L"UpperFilters"), MSZ(L"qtxKbd\0kbdclass\0\0")) << c.what;
    EXPECT_TRUE(LogHas(L"Debug: Skipping subkey HKLM\\SYSTEM\\CurrentControlSet.", LOG_VRB, LOG_REGISTRY));
    EXPECT_TRUE(LogHas(L"Debug: Skipping subkey HKLM\\SYSTEM\\Select.", LOG_VRB, LOG_REGISTRY));
    EXPECT_FALSE(LogHas(L"Debug: Skipping subkey HKLM\\SYSTEM\\ControlSet001."));
  }
  for (const std::wstring& set : sets) RemoveKey(HKEY_LOCAL_MACHINE, set);
  if (hadClass)
    DeleteValueOf(HKEY_LOCAL_MACHINE, current, L"UpperFilters");
  else
    RemoveKey(HKEY_LOCAL_MACHINE, current);
  if (!hadSelect) RemoveKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\Select");
}

// --- The whole step on a planted prefix ----------------------------------------------------

namespace {
const wchar_t kProgramFolder[] = L"C:\\Qtx Driver Test\\Velko";
const wchar_t kTrayClass[] = L"qtx_av_tray_icon_wndclass";
const std::wstring kVddKey = L"SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers";
const std::wstring kExchange = L"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions";
const std::wstring kRun = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kAddins = L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\";
const std::wstring kProfileList = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t kProfileName[] = L"QtxDrv_P";
const std::wstring kEngines[] = {
    L"SOFTWARE\\Classes\\CLSID\\{f414c260-6ac0-11cf-b6d1-00aa00bbbb58}\\InprocServer32",
    L"SOFTWARE\\Classes\\CLSID\\{f414c262-6ac0-11cf-b6d1-00aa00bbbb58}\\InprocServer32",
    L"SOFTWARE\\Classes\\CLSID\\{B54F3741-5B07-11cf-A4B0-00AA004A55E8}\\InprocServer32",
    L"SOFTWARE\\Classes\\CLSID\\{B54F3743-5B07-11cf-A4B0-00AA004A55E8}\\InprocServer32",
};
// A saved server path of 259 characters: with its terminator it fills the 520-byte buffer.
std::wstring LongSavedEngine() {
  std::wstring path = L"C:\\saved\\";
  return path + std::wstring(259 - path.size() - 4, L'v') + L".dll";
}
// Tags in the test group: the suite's, then one foreign.
const std::pair<const wchar_t*, DWORD> kTags[] = {
    {L"qtxTdi", 1}, {L"qtxNet", 2}, {L"qtxKbd", 3}, {L"qtxFsBlk", 4}, {L"qtxFW", 5}, {L"qtxNdisR", 6},
    {L"qtxNdis", 7}, {L"qtxNdisFlt", 8}, {L"qtxStm", 9}, {L"qtxmonflt", 10}, {L"QtxForeignDrv", 11}};

// The config.nt the 32-bit program opens, as the probe lists it: where the file lies, SysWOW64
// on 64-bit Windows (the 32-bit program's own system folder is redirected there), which the
// 64-bit build, standing in for it, names itself.
std::wstring OwnConfigNt() { return SystemFolder(false) + L"\\config.nt"; }
std::wstring NativeDriver(const std::wstring& n) { return SystemFolder(true) + L"\\drivers\\" + n + L".sys"; }
std::wstring Wow64Driver(const std::wstring& n) { return SystemFolder(false) + L"\\drivers\\" + n + L".sys"; }
std::wstring LocalAppData() {
  wchar_t buffer[MAX_PATH] = {0};
  DWORD size = sizeof buffer;
  RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
               L"Local AppData", RRF_RT_REG_SZ, nullptr, buffer, &size);
  return buffer;
}
std::wstring Text(HKEY root, const std::wstring& key, const wchar_t* name, REGSAM view) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!GetValue(root, key, name, &type, &data, view)) return L"<missing>";
  data.resize(data.size() + 2, 0);
  return reinterpret_cast<const wchar_t*>(data.data());
}
std::string ShowResidue(const ResidueList& list) {
  std::wstring out;
  for (const Residue& r : list) out += L"  " + r.kind + L": " + r.what + L"\n";
  return Narrow(out);
}
bool Lists(const ResidueList& list, const std::wstring& kind, const std::wstring& what) {
  for (const Residue& r : list)
    if (r.kind == kind && _wcsicmp(r.what.c_str(), what.c_str()) == 0) return true;
  return false;
}

// One planted thing and what the step must leave of it.
enum class Kind { File, Key, Value, DriverService, ProcessService };
enum class After { Gone, Kept, Queued, Locked };  // Locked: still there, not queued
struct Item {
  Kind kind;
  std::wstring path;        // file, key or service name
  const wchar_t* name;      // value name
  HKEY root;
  REGSAM view;
  After after;
};

std::vector<Item> Items() {
  const HKEY HKLM = HKEY_LOCAL_MACHINE, HKCR = HKEY_CLASSES_ROOT, HKU = HKEY_USERS;
  std::vector<Item> items;
  auto file = [&](const std::wstring& path, After after) { items.push_back({Kind::File, path, nullptr, nullptr, 0, after}); };
  auto key = [&](HKEY root, const std::wstring& path, REGSAM view, After after) {
    items.push_back({Kind::Key, path, nullptr, root, view, after});
  };
  auto value = [&](HKEY root, const std::wstring& path, const wchar_t* name, After after) {
    items.push_back({Kind::Value, path, name, root, kView32, after});
  };
  for (const wchar_t* f : {L"krovker4", L"qtxmon2", L"qtxtdi", L"qtxmonflt", L"qtxRdr", L"qtxRdr2", L"qtxSnx",
                           L"qtxnet", L"qtxKbd", L"qtxNdis", L"qtxNdis2", L"qtxNdis2k", L"qtxNdisFlt", L"qtxNdisR",
                           L"qtxFW", L"qtxRvrt", L"qtxRoot", L"qtxStm", L"qtxSP", L"qtxFsBlk"})
    file(NativeDriver(f), After::Gone);
  file(NativeDriver(L"qtxVmm"), After::Locked);  // native files have no restart fallback
  for (const wchar_t* f : {L"qtxKbd", L"qtxNdisR", L"qtxmon"}) file(Wow64Driver(f), After::Gone);
  file(Wow64Driver(L"qtxRoot"), After::Queued);
  file(NativeDriver(L"qtxForeign"), After::Kept);
  file(Wow64Driver(L"qtxSnx"), After::Kept);  // a native-only row
  file(LocalAppData() + L"\\Microsoft\\Outlook\\EXTEND.DAT", After::Gone);
  file(LocalAppData() + L"\\Microsoft\\Outlook\\other.dat", After::Kept);
  for (const wchar_t* s : {L"qtxTdi", L"qtxNet", L"qtxRdr", L"qtxSnx", L"qtxKbd", L"qtxFW", L"qtxNdisR", L"qtxRoot",
                           L"tap0901", L"qtxNdis", L"qtxNdis2k", L"qtxNdis2", L"qtxNdisFlt", L"qtxStm", L"Krovker4",
                           L"qtxmon", L"qtxmon2", L"qtxmonflt"})
    items.push_back({Kind::DriverService, s, nullptr, nullptr, 0, After::Gone});
  items.push_back({Kind::DriverService, L"QtxForeignDrv", nullptr, nullptr, 0, After::Kept});
  for (const wchar_t* s : {L"velko! Web Scanner", L"velko! Firewall"})
    items.push_back({Kind::ProcessService, s, nullptr, nullptr, 0, After::Gone});
  for (const wchar_t* k : {L"qtxSP", L"qtxFsBlk"}) key(HKLM, kServices + k, 0, After::Gone);
  value(HKLM, kExchange, L"velko!", After::Gone);
  value(HKLM, kExchange, L"velko! 5", After::Gone);
  value(HKLM, kExchange, L"Other", After::Kept);
  value(HKLM, kRun, L"pmrMaiSv", After::Gone);
  value(HKLM, kRun, L"velko5", After::Gone);
  value(HKLM, kRun, L"QtxForeignRun", After::Kept);
  value(HKEY_CURRENT_USER, kRun, L"pmrMaiSv", After::Gone);
  for (REGSAM view : {kView32, kView64}) {
    key(HKLM, kAddins + L"velkoAddin", view, After::Gone);
    key(HKLM, kAddins + L"OtherAddin", view, After::Kept);
  }
  key(HKLM, L"SOFTWARE\\Classes\\TypeLib\\{EF9547D2-97F6-412F-A886-BABD7005A4D8}", kView64, After::Gone);
  for (const wchar_t* k : {L"VkAScr.sbScanner", L"VkAScr.sbScanner.1", L"CLSID\\{3C61A0E5-7D24-4B9F-9E13-5A8D2F6B0C47}",
                           L"TypeLib\\{9E4B7A12-60C3-4D5E-8F21-B3C7D905A1E6}",
                           L"Interface\\{D27F5C83-1A9B-4E60-B4D7-0E6C82F39A15}",
                           L"AppID\\{5A0E93C7-B8D4-4F21-A6E9-71C3D2B8F064}", L"AppID\\VkAScr.DLL"})
    key(HKCR, k, kView32, After::Gone);
  key(HKCR, L"VkAScr.Other", kView32, After::Kept);
  key(HKU, L".DEFAULT\\AppEvents\\Schemes\\Apps\\Velko", 0, After::Gone);
  key(HKU, L".DEFAULT\\VkAScr.sbScanner", 0, After::Gone);
  return items;
}

bool Present(const Item& item) {
  switch (item.kind) {
    case Kind::File: {
      NativeFileAccess native;
      return PathExists(item.path);
    }
    case Kind::Key: return KeyExists(item.root, item.path, item.view);
    case Kind::Value: return ValueExists(item.root, item.path, item.name, item.view);
    default: return ServiceExists(item.path);
  }
}

class DriverStep : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hivetest::EnableHivePrivileges());
    ASSERT_TRUE(g_setup.Init());
    ResetRebootQueueForTests();
    g_detectedProgramFolder = kProgramFolder;
    for (const std::wstring& key : kEngines) {
      saved_.push_back(Text(HKEY_LOCAL_MACHINE, key, nullptr, kView32));
      hadKey_.push_back(KeyExists(HKEY_LOCAL_MACHINE, key, kView32));
    }
    NativeFileAccess nativeAccess;
    for (bool native : {true, false}) {
      std::string bytes;
      configNt_.push_back(ReadBytes(SystemFolder(native) + L"\\config.nt", &bytes) ? bytes : std::string("\x01missing"));
    }
  }
  void TearDown() override {
    NativeFileAccess nativeAccess;
    for (HANDLE h : locks_) CloseHandle(h);
    if (tray_) DestroyWindow(tray_);
    UnregisterClassW(kTrayClass, GetModuleHandleW(nullptr));
    for (const Item& item : Items()) {
      switch (item.kind) {
        case Kind::File: DeleteFileW(item.path.c_str()); break;
        case Kind::Key: RemoveKey(item.root, item.path, item.view); break;
        case Kind::Value: DeleteValueOf(item.root, item.path, item.name, item.view); break;
        default: DeleteTestService(item.path); break;
      }
    }
    for (const auto& t : kTags) RemoveKey(HKEY_LOCAL_MACHINE, kServices + t.first);
    DeleteValueOf(HKEY_LOCAL_MACHINE, kOrderList, kGroup);
    RemoveDirectoryW((SystemFolder(false) + L"\\drivers").c_str());  // only when left empty
    for (size_t i = 0; i < 2; ++i) {
      std::wstring path = SystemFolder(i == 0) + L"\\config.nt";
      if (configNt_[i] == "\x01missing")
        DeleteFileW(path.c_str());
      else
        WriteBytes(path, configNt_[i]);
    }
    RemoveKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\ControlSet001");
    RemoveKey(HKEY_LOCAL_MACHINE, kVddKey);
    RemoveKey(HKEY_LOCAL_MACHINE, kProfileList + L"\\" + kProfileName);
    RegUnLoadKeyW(HKEY_USERS, kProfileName);
    DeleteFileW(inf_.c_str());
    for (size_t i = 0; i < 4; ++i) {
      if (!hadKey_[i]) {
        RemoveKey(HKEY_LOCAL_MACHINE, kEngines[i], kView32);
        continue;
      }
      DeleteValueOf(HKEY_LOCAL_MACHINE, kEngines[i], L"Default Engine", kView32);
      if (saved_[i] != L"<missing>") SetText(HKEY_LOCAL_MACHINE, kEngines[i], nullptr, saved_[i], kView32);
    }
    ResetRebootQueueForTests();
    g_detectedProgramFolder.clear();
  }

  void Lock(const std::wstring& path) {
    locks_.push_back(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_NE(locks_.back(), INVALID_HANDLE_VALUE) << Narrow(path);
  }

  void Plant() {
    NativeFileAccess nativeAccess;
    CreateDirectoryW((SystemFolder(false) + L"\\drivers").c_str(), nullptr);  // Wine has none
    CreateDirectoryW((LocalAppData() + L"\\Microsoft").c_str(), nullptr);
    CreateDirectoryW((LocalAppData() + L"\\Microsoft\\Outlook").c_str(), nullptr);
    for (const Item& item : Items()) {
      bool done = false;
      switch (item.kind) {
        case Kind::File: done = WriteBytes(item.path, "planted"); break;
        case Kind::Key: done = MakeKey(item.root, item.path, item.view); break;
        case Kind::Value: done = SetText(item.root, item.path, item.name, L"planted", item.view); break;
        case Kind::DriverService: done = CreateTestService(item.path, SERVICE_KERNEL_DRIVER); break;
        case Kind::ProcessService: done = CreateTestService(item.path, SERVICE_WIN32_OWN_PROCESS); break;
      }
      ASSERT_TRUE(done) << Narrow(item.path);
      if (item.after == After::Queued || item.after == After::Locked) Lock(item.path);
    }
    std::vector<DWORD> tags;
    for (const auto& t : kTags) {
      TagService(t.first, t.second);
      tags.push_back(t.second);
    }
    SetGroupTags(tags);
    // Keyboard filter, VDD list, config.nt in both system folders.
    ASSERT_TRUE(SetMultiSz(L"SYSTEM\\ControlSet001" + kKbdClass, L"UpperFilters", MSZ(L"qtxKbd\0kbdclass\0\0")));
    ASSERT_TRUE(SetMultiSz(kVddKey, L"VDD",
                           std::wstring(kProgramFolder) + MSZ(L"\\QTXMONVD.DLL\0C:\\windows\\system32\\other.dll\0\0")));
    const std::string configNt = "dosonly\r\ndevice=%SystemRoot%\\system32\\QtxMonDS.sys\r\nfiles=40\r\n";
    ASSERT_TRUE(WriteBytes(SystemFolder(false) + L"\\config.nt", configNt));
    ASSERT_TRUE(WriteBytes(SystemFolder(true) + L"\\config.nt", configNt));
    // The tray program's window.
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kTrayClass;
    RegisterClassW(&wc);
    tray_ = CreateWindowW(kTrayClass, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(tray_);
    // A profile whose hive is in use (so its changes can be seen).
    std::wstring folder = ScratchDir(kProfileName);
    std::wstring hive = folder + L"\\NtUser.dat";
    ASSERT_TRUE(hivetest::BuildHive(hive, {L"AppID\\VkAScr.DLL", L"Software\\Keep"}, L"Software\\QtxTests\\drivers_hive"));
    ASSERT_TRUE(hivetest::AddProfile(HKEY_LOCAL_MACHINE, kProfileList, kProfileName, folder));
    ASSERT_EQ(RegLoadKeyW(HKEY_USERS, kProfileName, hive.c_str()), ERROR_SUCCESS);
    locks_.push_back(hivetest::LockFile(hive));
    // Script engines: a saved server, none, another saved one, one of the wrong type.
    SetText(HKEY_LOCAL_MACHINE, kEngines[0], L"Default Engine", L"C:\\saved\\jscript.dll", kView32);
    SetText(HKEY_LOCAL_MACHINE, kEngines[1], nullptr, L"C:\\current\\jsenc.dll", kView32);
    SetText(HKEY_LOCAL_MACHINE, kEngines[2], L"Default Engine", LongSavedEngine(), kView32);
    DWORD binary = 7;
    SetValue(HKEY_LOCAL_MACHINE, kEngines[3], L"Default Engine", REG_BINARY, &binary, 4, kView32);
    // A driver package of a network component.
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    inf_ = std::wstring(windows) + L"\\Inf\\oemqtxdrv.inf";
    ASSERT_TRUE(WriteBytes(inf_, "[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=QTXNDIS.cat\r\n"));
  }

  std::vector<std::wstring> saved_;
  std::vector<bool> hadKey_;
  std::vector<std::string> configNt_;
  std::vector<HANDLE> locks_;
  HWND tray_ = nullptr;
  std::wstring inf_;
};
}  // namespace

TEST_F(DriverStep, RemovesWhatIsListedKeepsTheRestAndTheProbeAgrees) {
  ResidueList clean;
  ProbeProtectionDrivers(clean);
  EXPECT_TRUE(clean.empty()) << "clean prefix:\n" << ShowResidue(clean);

  Plant();
  ResidueList planted;
  ProbeProtectionDrivers(planted);
  const std::pair<const wchar_t*, std::wstring> expectedBefore[] = {
      {L"service", L"qtxNdisR"},
      {L"service", L"velko! Web Scanner"},
      {L"service key", L"HKLM\\" + kServices + L"qtxSP"},
      {L"driver file", NativeDriver(L"qtxStm")},
      {L"driver file", Wow64Driver(L"qtxmon")},
      {L"load-order tag", L"qtxNdisR"},
      {L"filter entry", L"HKLM\\SYSTEM\\ControlSet001" + kKbdClass + L" [UpperFilters] qtxKbd"},
      {L"VDD entry", std::wstring(kProgramFolder) + L"\\qtxMonVd.dll"},
      {L"driver line", OwnConfigNt()},
      {L"driver package", inf_},
      {L"value", L"HKLM\\" + kExchange + L" [velko!]"},
      {L"value", L"HKCU\\" + kRun + L" [pmrMaiSv]"},
      {L"key", L"HKLM\\" + kAddins + L"velkoAddin"},
      {L"file", LocalAppData() + L"\\Microsoft\\Outlook\\EXTEND.DAT"},
      {L"window", kTrayClass},
      {L"key", L"HKCR\\AppID\\VkAScr.DLL"},
      {L"profile key", L"HKU\\.DEFAULT\\VkAScr.sbScanner"},
      {L"profile key", std::wstring(L"profile ") + kProfileName + L": AppID\\VkAScr.DLL"},
      {L"value", L"HKLM\\" + kEngines[0] + L" [Default Engine]"},
  };
  for (const auto& e : expectedBefore)
    EXPECT_TRUE(Lists(planted, e.first, e.second)) << Narrow(e.first) << " " << Narrow(e.second) << "\n"
                                                   << ShowResidue(planted);

  ClearLog();
  RemoveProtectionDrivers();
  std::string log = Narrow(LogDump());

  for (const Item& item : Items()) {
    EXPECT_EQ(Present(item), item.after != After::Gone) << Narrow(item.path) << " " << Narrow(item.name ? item.name : L"");
    if (item.kind == Kind::File) {
      EXPECT_EQ(IsQueuedForReboot(item.path.c_str()), item.after == After::Queued) << Narrow(item.path);
    }
  }
  // Only the foreign tag is left, and qtxmonflt's: this prefix has no filter manager.
  EXPECT_EQ(GroupTags(), (std::vector<DWORD>{10, 11})) << log;
  EXPECT_EQ(GetMultiSz(L"SYSTEM\\ControlSet001" + kKbdClass, L"UpperFilters"), MSZ(L"kbdclass\0\0"));
  EXPECT_EQ(GetMultiSz(kVddKey, L"VDD"), MSZ(L"C:\\windows\\system32\\other.dll\0\0"));
  // config.nt: only the copy the 32-bit product opens (through redirection) loses its line.
  std::string wow, native;
  {
    NativeFileAccess nativeAccess;
    ReadBytes(SystemFolder(false) + L"\\config.nt", &wow);
    ReadBytes(SystemFolder(true) + L"\\config.nt", &native);
  }
  EXPECT_EQ(wow, "dosonly\r\nfiles=40\r\n");
  EXPECT_NE(native.find("QtxMonDS.sys"), std::string::npos);
  MSG quit = {};
  ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 1u);
  DestroyWindow(tray_);  // what the tray program does on WM_QUIT is its own affair
  tray_ = nullptr;
  EXPECT_FALSE(KeyExists(HKEY_USERS, std::wstring(kProfileName) + L"\\AppID\\VkAScr.DLL"));
  EXPECT_TRUE(KeyExists(HKEY_USERS, std::wstring(kProfileName) + L"\\Software\\Keep"));
  const std::wstring defaults[] = {L"C:\\saved\\jscript.dll", L"C:\\current\\jsenc.dll", LongSavedEngine()};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kEngines[i], nullptr, kView32), defaults[i]);
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kEngines[i], L"Default Engine", kView32));
  }
  EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kEngines[3], L"Default Engine", kView32));
  EXPECT_TRUE(LogHas(L"Set registry: " + kEngines[0] + L"\\=C:\\saved\\jscript.dll", LOG_VRB, LOG_REGISTRY)) << log;
  // Network components: Wine's configuration engine finds none, so no package is touched.
  EXPECT_EQ(LogCount(L"qtxNdis uninstalled successfully."), 0);
  EXPECT_TRUE(PathExists(inf_));

  // What the probe still finds is exactly what the run could not remove here. (The tag of
  // qtxmonflt stays in the list, but with its service key gone no probe can name it.)
  ResidueList left;
  ProbeProtectionDrivers(left);
  ResidueList expectedLeft = {
      {L"driver file", NativeDriver(L"qtxVmm")},
      {L"driver file", Wow64Driver(L"qtxRoot")},
      {L"driver package", inf_},
      {L"value", L"HKLM\\" + kEngines[3] + L" [Default Engine]"},
  };
  EXPECT_EQ(left.size(), expectedLeft.size()) << ShowResidue(left);
  for (const Residue& r : expectedLeft)
    EXPECT_TRUE(Lists(left, r.kind, r.what)) << Narrow(r.kind + L" " + r.what) << "\n" << ShowResidue(left);
}

// --- Windows-version gates -----------------------------------------------------------------

// Run in a child process under a claimed Windows version. QTX_EXPECT is "sp,flt": 1 when the
// self-protection driver's file and key must be gone afterwards (Windows 2000 and later), and
// 1 when the file-system filter's tag must be gone (5.2 and later with a filter manager).
TEST(UnderVersion, DriverGatesFollowTheClaimedVersion) {
  wchar_t expect[64] = {0};
  if (!GetEnvironmentVariableW(L"QTX_EXPECT", expect, 64)) GTEST_SKIP() << "runs only as a child";
  int sp = -1, flt = -1;
  ASSERT_EQ(swscanf(expect, L"%d,%d", &sp, &flt), 2);
  ASSERT_TRUE(g_setup.Init());
  bool hadFltMgr = KeyExists(HKEY_LOCAL_MACHINE, kFltMgr);
  MakeKey(HKEY_LOCAL_MACHINE, kFltMgr);
  auto nativeFile = [](bool plant) {
    NativeFileAccess native;
    return plant ? WriteBytes(NativeDriver(L"qtxSP"), "driver") : PathExists(NativeDriver(L"qtxSP"));
  };
  ASSERT_TRUE(nativeFile(true));
  MakeKey(HKEY_LOCAL_MACHINE, kServices + L"qtxSP");
  TagService(L"qtxFsBlk", 21);
  TagService(L"qtxmonflt", 22);
  SetGroupTags({21, 22, 23});

  ClearLog();
  RemoveProtectionDrivers();
  EXPECT_EQ(nativeFile(false), sp == 0);
  EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kServices + L"qtxSP"), sp == 0);
  std::vector<DWORD> tags = GroupTags();
  EXPECT_EQ(std::count(tags.begin(), tags.end(), 21u), sp == 0 ? 1 : 0);
  EXPECT_EQ(std::count(tags.begin(), tags.end(), 22u), flt == 0 ? 1 : 0);
  EXPECT_EQ(std::count(tags.begin(), tags.end(), 23u), 1);
  EXPECT_EQ(LogHas(std::wstring(L"Removing service 'qtxMonFlt' load order id=22 in group '") + kGroup + L"'"), flt == 1)
      << Narrow(LogDump());

  DeleteFileUnredirected(NativeDriver(L"qtxSP").c_str());
  for (const wchar_t* s : {L"qtxSP", L"qtxFsBlk", L"qtxmonflt"}) RemoveKey(HKEY_LOCAL_MACHINE, kServices + s);
  DeleteValueOf(HKEY_LOCAL_MACHINE, kOrderList, kGroup);
  if (!hadFltMgr) RemoveKey(HKEY_LOCAL_MACHINE, kFltMgr);
}

TEST(DriverGates, WindowsVersions) {
  EXPECT_EQ(RunSelfUnderWindowsVersion(L"nt40", L"UnderVersion.*", L"0,0"), 0u);     // 4.0: neither
  EXPECT_EQ(RunSelfUnderWindowsVersion(L"win2k", L"UnderVersion.*", L"1,0"), 0u);    // 5.0: no filter-manager tag
  EXPECT_EQ(RunSelfUnderWindowsVersion(L"win2003", L"UnderVersion.*", L"1,1"), 0u);  // 5.2: both
}
