#include "sysops/process.h"

#include <aclapi.h>
#include <objbase.h>

#include "log/log.h"
#include "setup/setup_globals.h"
#include "base/dynapi.h"
#include "base/handles.h"
#include "sysops/folder_trust.h"
#include "sysops/modules.h"

namespace {
constexpr DWORD kSideBySideError = 14001;  // ERROR_SXS_CANT_GEN_ACTCTX

// Lets the started program bring its windows to the front; user32 may lack the function.
void AllowForeground(DWORD processId) {
  typedef BOOL(WINAPI * AllowFn)(DWORD);
  auto allow = LookupFn<AllowFn>(L"User32.dll", "AllowSetForegroundWindow");
  if (allow) allow(processId);
}
}  // namespace

bool LaunchProgram(wchar_t* commandLine, DWORD* error, const wchar_t* programPath) {
  if (programPath && !IsAbsolutePath(programPath)) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Program \"%s\" not started: no absolute path", programPath);
    if (error) *error = ERROR_BAD_PATHNAME;
    return false;
  }
  // Held until the program has started, so that its folder cannot be swapped meanwhile.
  UniqueKernelHandle folder;
  if (programPath && !(folder = HoldTrustedFolderOf(programPath))) {
    if (error) *error = ERROR_ACCESS_DENIED;
    return false;
  }
  PrintPair(LOG_VRB, LOG_SYSTEM, L"Executing:", commandLine);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  DWORD code = 0;
  // Suspended, so that the foreground permission is in place before the program runs.
  bool started = CreateProcessW(programPath, commandLine, nullptr, nullptr, FALSE,
                                CREATE_SUSPENDED | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si,
                                &pi) != FALSE;
  if (started) {
    UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    AllowForeground(pi.dwProcessId);
    ResumeThread(thread.get());
  } else {
    code = GetLastError();
  }
  if (error) *error = code;
  if (started) {
    PrintPair(LOG_VRB, LOG_SYSTEM, L"Executed:", commandLine);
  } else {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"ERROR:Not executed:%s, code:0x%08X", commandLine, code);
    if (code == kSideBySideError)
      g_log.Print(LOG_MIN, LOG_SYSTEM, L"The previous error is caused by side-by-side configuration");
  }
  return started;
}

bool SetTokenPrivilege(HANDLE token, const wchar_t* privilege, bool enable) {
  TOKEN_PRIVILEGES tp = {};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  return LookupPrivilegeValueW(nullptr, privilege, &tp.Privileges[0].Luid) &&
         AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
}

DWORD EnableRestorePrivilege() {
  if (!g_setup.IsOS(OS_NT)) return 0;
  UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()) ||
      !SetTokenPrivilege(token.get(), L"SeRestorePrivilege", true))
    return GetLastError();
  // AdjustTokenPrivileges also succeeds when the token lacks the privilege altogether;
  // only ERROR_NOT_ALL_ASSIGNED tells, and the privilege is then not enabled.
  DWORD err = GetLastError();
  return err == ERROR_NOT_ALL_ASSIGNED ? err : 0;
}

namespace {
// The security functions are looked up at run time: Windows 2000 lacks CreateWellKnownSid,
// and then the process keeps COM's default security.
typedef BOOL(WINAPI* InitializeSecurityDescriptorFn)(PSECURITY_DESCRIPTOR, DWORD);
typedef BOOL(WINAPI* CreateWellKnownSidFn)(WELL_KNOWN_SID_TYPE, PSID, PSID, DWORD*);
typedef BOOL(WINAPI* SetSecurityDescriptorDaclFn)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
typedef BOOL(WINAPI* SetSecurityDescriptorSidFn)(PSECURITY_DESCRIPTOR, PSID, BOOL);
typedef DWORD(WINAPI* SetEntriesInAclWFn)(ULONG, PEXPLICIT_ACCESS_W, PACL, PACL*);

struct SecurityApi {
  InitializeSecurityDescriptorFn initializeDescriptor;
  CreateWellKnownSidFn createWellKnownSid;
  SetSecurityDescriptorDaclFn setDacl;
  SetSecurityDescriptorSidFn setGroup;
  SetSecurityDescriptorSidFn setOwner;
  SetEntriesInAclWFn setEntriesInAcl;
};

bool LoadSecurityApi(HMODULE advapi, SecurityApi* api) {
  api->initializeDescriptor =
      reinterpret_cast<InitializeSecurityDescriptorFn>(LookupProcIn(advapi, "InitializeSecurityDescriptor"));
  api->createWellKnownSid =
      reinterpret_cast<CreateWellKnownSidFn>(LookupProcIn(advapi, "CreateWellKnownSid"));
  api->setDacl = reinterpret_cast<SetSecurityDescriptorDaclFn>(LookupProcIn(advapi, "SetSecurityDescriptorDacl"));
  api->setGroup = reinterpret_cast<SetSecurityDescriptorSidFn>(LookupProcIn(advapi, "SetSecurityDescriptorGroup"));
  api->setOwner = reinterpret_cast<SetSecurityDescriptorSidFn>(LookupProcIn(advapi, "SetSecurityDescriptorOwner"));
  api->setEntriesInAcl = reinterpret_cast<SetEntriesInAclWFn>(LookupProcIn(advapi, "SetEntriesInAclW"));
  return api->initializeDescriptor && api->createWellKnownSid && api->setDacl && api->setGroup &&
         api->setOwner && api->setEntriesInAcl;
}

constexpr int kComSidCount = 5;
constexpr DWORD kSidBytes = 72;
// Administrators first: it is also the descriptor's owner and group.
const WELL_KNOWN_SID_TYPE kComSids[kComSidCount] = {WinBuiltinAdministratorsSid, WinLocalServiceSid,
                                                    WinNetworkServiceSid, WinSelfSid, WinLocalSystemSid};
constexpr DWORD kComRightsExecuteAll = 3;  // COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL
}  // namespace

bool SetComSecurity() {
  UniqueLibrary advapi(LoadLibraryW(L"advapi32.dll"));
  SecurityApi api = {};
  if (!advapi || !LoadSecurityApi(advapi.get(), &api)) return false;

  SECURITY_DESCRIPTOR sd = {};
  if (!api.initializeDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) return false;

  alignas(8) BYTE sids[kComSidCount][kSidBytes] = {};
  EXPLICIT_ACCESS_W access[kComSidCount] = {};
  for (int i = 0; i < kComSidCount; ++i) {
    DWORD size = kSidBytes;
    if (!api.createWellKnownSid(kComSids[i], nullptr, sids[i], &size)) return false;
    access[i].grfAccessPermissions = kComRightsExecuteAll;
    access[i].grfAccessMode = SET_ACCESS;
    access[i].grfInheritance = NO_INHERITANCE;
    access[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access[i].Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    access[i].Trustee.ptstrName = reinterpret_cast<LPWSTR>(sids[i]);
  }

  PACL rawAcl = nullptr;
  DWORD aclResult = api.setEntriesInAcl(kComSidCount, access, nullptr, &rawAcl);
  UniqueLocalMem acl(rawAcl);
  if (aclResult != ERROR_SUCCESS) return false;
  if (!api.setOwner(&sd, sids[0], FALSE) || !api.setGroup(&sd, sids[0], FALSE) ||
      !api.setDacl(&sd, TRUE, rawAcl, FALSE))
    return false;

  HRESULT hr = CoInitializeSecurity(&sd, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                    RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
                                    EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL, nullptr);
  return SUCCEEDED(hr);
}
