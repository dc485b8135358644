// The run environment: folders, operating-system facts, user-interface mode and language,
// installer operation, and the expansion of path macros (%NAME% at the start of a path).
#pragma once
#include <windows.h>
#include <string>

// Operating-system kind flags tested by SetupGlobals::IsOS (true when any bit of the mask is set).
constexpr DWORD OS_9X = 0x1;
constexpr DWORD OS_95 = 0x2;
constexpr DWORD OS_98 = 0x4;
constexpr DWORD OS_ME = 0x8;
constexpr DWORD OS_NT = 0x100;
constexpr DWORD OS_NT4 = 0x200;
constexpr DWORD OS_2000 = 0x400;
constexpr DWORD OS_XP_OR_LATER = 0x800;
constexpr DWORD OS_VISTA_7 = 0x1000;
constexpr DWORD OS_SERVER = 0x10000;
constexpr DWORD OS_WOW64 = 0x20000;
constexpr DWORD OS_X64 = 0x40000;
// Asked for by the system report; never set.
constexpr DWORD OS_WHS = 0x80000;
constexpr DWORD OS_SBS = 0x100000;

enum UiModeKind : int { Interactive = 0, Silent = 2, VerySilent = 3 };

enum : int {
  INST_OP_UNKNOWN = 0, INST_OP_INSTALL = 2, INST_OP_UNINSTALL = 3, INST_OP_UPDATE = 4,
  INST_OP_REPAIR = 5, INST_OP_CHANGE = 6, INST_OP_UPDATE_GET_PACKAGES = 7,
  INST_OP_UPDATE_INSTALL_PACKAGES = 8, INST_OP_CHECK_UPDATE = 9,
  INST_OP_CHECK_PUSH_REQUEST = 11, INST_OP_PROXYDLG = 15, INST_OP_UPD_SETIFACE = 16,
  INST_OP_STOP_STAT = 18, INST_OP_SHOW_SUMMARY = 19, INST_OP_CREATE_ADMIN = 20,
  INST_OP_NP_INSTALLDB = 21, INST_OP_QTXPXYDLG = 22, INST_OP_GETVPUS = 23,
  INST_OP_SUBMIT = 24, INST_OP_ISRUNNING = 25, INST_OP_COPYSFX = 26,
  INST_OP_ENUM_LANGUAGES = 27, INST_OP_INSTALL_LANGUAGES = 28
};

// The name logged for an operation value; "INST_OP_[%d]" for a value without one.
const wchar_t* InstOpName(int op);

// Holds "GUID", the identifier that survives between runs.
constexpr const wchar_t* kPersistentStorageKey = L"VelkoPersistentStorage";

struct SetupGlobals {
  SetupGlobals() = default;
  SetupGlobals(const SetupGlobals&) = delete;
  SetupGlobals& operator=(const SetupGlobals&) = delete;

  virtual bool Init();                      // defaults
  virtual ~SetupGlobals() = default;
  virtual bool Query() { return true; }
  virtual void ReadSetupInfo() {}
  virtual WORD SetDefaultLanguage();        // language = 1033
  // Expands the macro at the start of src, joins the remainder and then tail (may be null);
  // stores the result in dest and in result, and returns result.
  virtual std::wstring& ExpandPath(std::wstring& result, std::wstring& dest, const wchar_t* src,
                                   const wchar_t* tail);
  virtual int LoadLocalizedString(UINT id, wchar_t* buffer, int size, WORD lcid) = 0;
  virtual bool HasOldVersion();
  virtual void Hook8() {}
  virtual void Hook9() {}
  virtual const wchar_t* LanguageCode(WORD lcid);
  virtual void SetOperation(int op);

  // True when any flag of mask holds for the running system; evaluated afresh every call.
  bool IsOS(DWORD mask);
  // Convenience form of ExpandPath for callers that only want the result.
  std::wstring Expand(const wchar_t* src, const wchar_t* tail = nullptr);

  int UiMode = Interactive;
  std::wstring moduleFolder;
  std::wstring installFolder;   // the program folder; expansion of "%ROPATH%"
  std::wstring tempFolder;
  int setupVersion = -1;
  WORD language = 1033;
  int operation = INST_OP_UNKNOWN;
  OSVERSIONINFOEXW osVersion = {};
  DWORD csdVersionNumber = 0;
  std::wstring computerName;
  std::wstring persistentGuid;
  bool RestartNeeded = false;
  bool isaServerPresent = false;
  std::wstring isaServerFolder;
  std::wstring domainFolder;
  std::wstring whsFolder;
  HMODULE resourceModule = nullptr;
  bool zeroFootprint = false;
  DWORD restartTimeout = 0;     // seconds given to a restart; Init sets 0
  bool keepMachineUnchanged = false;  // set before Init: the identifier is made but not stored

 protected:
  // The generic macros (".", "%ROPATH%", "%TEMP%" ...) and environment variables.
  std::wstring ExpandGeneric(const wchar_t* src);
};

struct SetupGlobalsWin32 : SetupGlobals {
  bool Init() override;
  void ReadSetupInfo() override;
  std::wstring& ExpandPath(std::wstring& result, std::wstring& dest, const wchar_t* src,
                           const wchar_t* tail) override;
  int LoadLocalizedString(UINT id, wchar_t* buffer, int size, WORD lcid) override;
  // True when the running version is above major.minor, or equal to it and (off NT, or
  // servicePack 0, or the installed service pack at least servicePack).
  virtual bool IsOSVersionAtLeast(DWORD major, DWORD minor, DWORD servicePack);

 private:
  void InitPersistentGuid();
  void FindIsaServer();
  std::wstring ExpandWindowsMacro(const wchar_t* src, bool* matched);
};

// `text` with %SystemRoot%, %windir% and %SystemDrive% replaced by the system's own folders
// (not the process environment, which the user can influence); "" when another variable is
// in it. For paths read from the machine's profile list.
std::wstring ExpandSystemVariables(const std::wstring& text);

// The one run environment of the process.
extern SetupGlobalsWin32 g_setup;

// The installation folder the start-up and the dialog hand to the run ("%ROPATH%" base).
extern std::wstring g_installFolder;
