// wineprobe.exe: prints what this Wine does for a program of this build's bitness, one
// "name: value" line each, for comparing the 32-bit and the 64-bit build side by side:
// the process kind, SetupUninstallOEMInfW on a planted INF, the network configuration
// engine, where a plain HKLM\Software write lands, and what a restart queue entry records.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/com_ptr.h"
#include "sysops/netcfg.h"

namespace {
void Line(const char* name, const std::wstring& value) { std::printf("%s: %ls\n", name, value.c_str()); }
std::wstring Hex(unsigned long v) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08lx", v);
  return text;
}
bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
bool Write(const std::wstring& path, const char* text) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  WriteFile(h, text, static_cast<DWORD>(strlen(text)), &n, nullptr);
  CloseHandle(h);
  return true;
}

void ProcessKind() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  wchar_t folder[MAX_PATH] = {0};
  UINT n = GetSystemWow64DirectoryW(folder, MAX_PATH);
  SYSTEM_INFO si = {};
  GetNativeSystemInfo(&si);
  OSVERSIONINFOEXW v = {};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v));
  Line("pointer bits", std::to_wstring(sizeof(void*) * 8));
  Line("IsWow64Process", wow64 ? L"TRUE" : L"FALSE");
  Line("GetSystemWow64DirectoryW", n ? folder : L"fails, error " + std::to_wstring(GetLastError()));
  Line("native processor", std::to_wstring(si.wProcessorArchitecture));
  Line("version", std::to_wstring(v.dwMajorVersion) + L"." + std::to_wstring(v.dwMinorVersion) + L" build " +
                      std::to_wstring(v.dwBuildNumber) + L" product type " + std::to_wstring(v.wProductType));
}

void OemInf() {
  wchar_t windows[MAX_PATH] = {0}, system[MAX_PATH] = {0};
  GetWindowsDirectoryW(windows, MAX_PATH);
  GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring inf = std::wstring(windows) + L"\\inf\\oemqtxprobe.inf";
  Write(inf, "[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=qtxprobe.cat\r\nProvider=Probe\r\n");
  HMODULE setupapi = LoadLibraryW((std::wstring(system) + L"\\setupapi.dll").c_str());
  typedef BOOL(WINAPI * Fn)(PCWSTR, DWORD, PVOID);
  auto uninstall = setupapi ? reinterpret_cast<Fn>(GetProcAddress(setupapi, "SetupUninstallOEMInfW")) : nullptr;
  if (!uninstall) return Line("SetupUninstallOEMInfW", L"missing");
  SetLastError(0);
  BOOL ok = uninstall(L"oemqtxprobe.inf", 0, nullptr);
  DWORD err = GetLastError();
  Line("SetupUninstallOEMInfW", std::wstring(ok ? L"TRUE" : L"FALSE") + L", error " + Hex(err) + L", INF " +
                                    (Exists(inf) ? L"still there" : L"deleted"));
  DeleteFileW(inf.c_str());
}

void NetCfg() {
  ComPtr<INetCfg> netcfg;
  std::wstring holder;
  HRESULT hr = AcquireNetCfg(L"wineprobe", netcfg, holder);
  Line("INetCfg create, lock, Initialize", Hex(hr));
  if (FAILED(hr)) return;
  ComPtr<INetCfgComponent> component;
  Line("INetCfg FindComponent ms_tcpip", Hex(netcfg->FindComponent(L"ms_tcpip", component.put())));
  ReleaseNetCfg(netcfg);
}

// A plain write of HKLM\Software\QtxProbe, read back through each explicit view.
void RegistryView() {
  HKEY key = nullptr;
  const wchar_t* path = L"Software\\QtxProbe";
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (key) RegCloseKey(key);
  std::wstring seen;
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    HKEY open = nullptr;
    bool there = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &open) == ERROR_SUCCESS;
    if (open) RegCloseKey(open);
    seen += std::wstring(view == KEY_WOW64_32KEY ? L"32-bit view " : L", 64-bit view ") + (there ? L"yes" : L"no");
  }
  Line("plain HKLM\\Software write seen in", seen);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY, 0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY, 0);
}

// A long-named file queued for deletion: what the pending list records, read in each view.
void RestartQueue() {
  const std::wstring folder = L"C:\\qtx probe long folder name", file = folder + L"\\a long file name.dat";
  CreateDirectoryW(folder.c_str(), nullptr);
  Write(file, "x");
  Line("MoveFileExW delay", MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? L"TRUE" : L"FALSE");
  // A file named in the system folder: which folder's file the queue names (redirection).
  wchar_t system[MAX_PATH] = {0};
  GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring inSystem = std::wstring(system) + L"\\qtxprobe.dat";
  Write(inSystem, "x");
  MoveFileExW(inSystem.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    HKEY key = nullptr;
    std::wstring text = L"no value";
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_READ | view, &key) == ERROR_SUCCESS) {
      wchar_t data[4096] = {0};
      DWORD type = 0, size = sizeof data - sizeof(wchar_t);
      if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data),
                           &size) == ERROR_SUCCESS) {
        text = L"type " + std::to_wstring(type) + L":";
        for (const wchar_t* p = data; *p || p[1]; p += wcslen(p) + 1)
          if (*p) text += std::wstring(L" [") + p + L"]";
      }
      RegCloseKey(key);
    }
    Line(view == KEY_WOW64_32KEY ? "pending list, 32-bit view" : "pending list, 64-bit view", text);
  }
}
}  // namespace

int wmain() {
  ProcessKind();
  OemInf();
  NetCfg();
  RegistryView();
  RestartQueue();
  return 0;
}
