#include "app/startup.h"

#include "app/app_state.h"
#include "app/dialog.h"
#include "app/removal_run.h"
#include "app/safe_mode.h"
#include "app/system_report.h"
#include "app/run_report.h"
#include "app/usage.h"
#include "app/whatif.h"
#include "ui/prompt.h"
#include "ui/ui_strings.h"
#include "log/log.h"
#include "resources/resource.h"
#include "setup/setup_globals.h"
#include "base/dynapi.h"
#include "base/handles.h"
#include "base/path.h"
#include "log/ufile.h"
#include "sysops/folder_trust.h"
#include "sysops/modules.h"
#include "sysops/selfprotect.h"

std::wstring g_logPath;

const StartupServices kProductServices = {&kCatalogSteps, ProbeSelfProtection};

namespace {
constexpr size_t kMessageChars = 32768;

// The "/log" file, opened once at start-up and written at the end only through this handle.
UniqueKernelHandle g_logFile;

// One line on standard error when the program has one, else in a box.
void ReportLogRefusal(const wchar_t* text) {
  g_log.Print(LOG_MIN, LOG_GENERAL, L"%s", text);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  std::wstring line = std::wstring(text) + L"\r\n";
  int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
  DWORD written = 0;
  if (err && err != INVALID_HANDLE_VALUE && bytes > 1 &&
      WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &utf8[0], bytes, nullptr, nullptr) > 0 &&
      WriteFile(err, utf8.data(), static_cast<DWORD>(bytes - 1), &written, nullptr))
    return;
  wchar_t caption[MAX_PATH] = {0};
  LoadUiString(g_instance, IDS_APP_CAPTION, caption, MAX_PATH, g_uiLanguage);
  UiMessageBox(nullptr, text, caption, MB_ICONWARNING);
}

// Opens or creates the "/log" file without following a reparse point; an existing file that
// fails WrittenFileFault is not used, and the run goes on unlogged.
void OpenRunLog() {
  g_logFile.reset();
  if (g_logPath.empty()) return;
  const wchar_t* path = g_logPath.c_str();
  UniqueKernelHandle file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  wchar_t text[2 * MAX_PATH + 96] = {0};
  const wchar_t* fault = nullptr;
  wchar_t code[32] = {0};
  if (!file) {
    _snwprintf(code, 31, L"error 0x%08X", static_cast<unsigned>(GetLastError()));
    fault = code;
  } else if (existed) {
    fault = WrittenFileFault(file.get(), path);
  }
  if (!fault) {
    g_logFile = std::move(file);
    return;
  }
  _snwprintf(text, sizeof text / sizeof text[0] - 1, L"Log file %s not written: %s", path, fault);
  ReportLogRefusal(text);
}
constexpr DWORD kRestartRequired = 0x20000000;  // status of the setup library's uninstall

// A message-box text loaded in the UI language.
struct UiText {
  explicit UiText(UINT id) { LoadUiString(g_instance, id, text, kMessageChars, g_uiLanguage); }
  wchar_t text[kMessageChars] = {0};
};

// The end of every path that ran the removal: the restart offer, and the exit code. Without
// "/unattended" the code is 0, as it always was. Unattended: 1603 when the removal failed
// (no restart then), 0 when nothing is left for a restart, 1641 when the restart was started
// ("/forcerestart" without "/noreboot"), 3010 when a restart is still needed.
int FinishRun(const RunOutcome& outcome) {
  if (!IsUnattended()) {
    OfferRestart();
    return kExitDone;
  }
  if (outcome.registryFailed || outcome.servicesResult != 0) {
    g_log.Print(LOG_MIN, LOG_GENERAL, L"Unattended run failed: registry step %s, services step 0x%08X",
                outcome.registryFailed ? L"failed" : L"done", outcome.servicesResult);
    return kExitFailed;
  }
  if (outcome.residue.UnqueuedCount() != 0) {
    g_log.Print(LOG_MIN, LOG_GENERAL, L"Unattended run failed: %u items remain", outcome.residue.UnqueuedCount());
    return kExitFailed;
  }
  if (!g_setup.RestartNeeded && !outcome.restartQueued) return kExitDone;
  if (g_forceRestart && !g_noReboot) {
    RestartWindows();
    return kExitRestartStarted;
  }
  g_log.Print(LOG_MIN, LOG_GENERAL, L"Unattended run done; a restart will finish it");
  return kExitRestartPending;
}

// The suite's own uninstall through its setup library. False when the library does not
// load, so that the ordinary start-up goes on; otherwise `exitCode` is the run's.
bool ForcedUninstall(const RemovalSteps& steps, int* exitCode) {
  typedef DWORD(WINAPI * UninstallFn)(void*, void*, DWORD, DWORD*);
  DetectProduct(L"vk_pro");
  std::wstring library = JoinPath(g_detectedProgramFolder, L"Setup\\Setiface.dll");
  // With no program folder the name is relative, and the loader would search the program's
  // own folder and the current folder for it: such a name is skipped with a log line.
  UniqueLibrary setup = LoadSuiteModule(library.c_str());
  if (!setup) return false;
  auto uninstall = reinterpret_cast<UninstallFn>(LookupProcIn(setup.get(), "setifaceUninstallProgram"));
  if (uninstall) {
    DWORD status = 0;
    uninstall(nullptr, nullptr, 1, &status);
    if (status == kRestartRequired) g_setup.RestartNeeded = true;
  }
  setup.reset();
  g_setup.installFolder = g_detectedProgramFolder;
  RunOutcome outcome;
  RemovalRun(steps, &outcome);
  *exitCode = FinishRun(outcome);
  return true;
}

// Detection with the start-up's product code; without a detected program folder a very-silent
// or unattended run takes the "/folder" value. Every rule of the program-files step applies
// to it as to a detected folder.
void ChooseProgramFolder() {
  DetectProduct(g_productKind.c_str());
  g_folderFromSwitch = false;
  if (!g_folderPath.empty()) {
    if (g_detectedProgramFolder.empty() && g_setup.UiMode == VerySilent) {
      g_detectedProgramFolder = g_folderPath;
      g_folderFromSwitch = true;
      g_log.Print(LOG_MIN, LOG_GENERAL, L"Program folder: %s (from /folder; none detected)", g_folderPath.c_str());
    } else if (!g_detectedProgramFolder.empty()) {
      g_log.Print(LOG_MIN, LOG_GENERAL, L"Program folder: %s (detected; /folder %s ignored)",
                  g_detectedProgramFolder.c_str(), g_folderPath.c_str());
    } else {
      g_log.Print(LOG_MIN, LOG_GENERAL, L"/folder %s ignored: it needs /verysilent or /unattended", g_folderPath.c_str());
    }
  }
  g_setup.installFolder = g_detectedProgramFolder;
}

// A mistyped switch ends the program before anything is changed: the usage text, in the log
// too, and ERROR_INVALID_PARAMETER. The switches are applied only for "/log" and
// "/unattended" (no box then); nothing is reported or removed.
int RefuseUnknownSwitch(const std::vector<std::wstring>& arguments, const std::wstring& unknown) {
  ParseSwitches(arguments);
  g_reportPath.clear();
  OpenRunLog();
  g_log.Print(LOG_MIN, LOG_GENERAL, L"Unknown switch: %s", unknown.c_str());
  std::wstring usage = UsageText();
  g_log.Print(LOG_MIN, LOG_GENERAL, L"%s", usage.c_str());
  ShowUsage();
  return kExitInvalidSwitch;
}

// "/whatif": detection and the probes only; the self-protection is asked, never a reason to
// refuse.
int DryRun(const StartupServices& services) {
  ChooseProgramFolder();
  bool selfProtection = services.probeSelfProtection() != 0;
  NoteReportSelfProtection(selfProtection);
  return RunWhatIf(selfProtection);
}

// Safe Mode: undone when already in it; otherwise offered twice and, on two Yes answers,
// arranged (boot setting, self-copy, RunOnce) and followed by a restart. True when the
// start-up ends here.
bool SafeModeBlock(const wchar_t* caption) {
  wchar_t self[MAX_PATH] = {0};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  bool vistaOrLater = g_setup.osVersion.dwMajorVersion > 5;
  if (GetSystemMetrics(SM_CLEANBOOT) != 0) {
    if (vistaOrLater)
      RunBootCommand(L"bcdedit.exe /deletevalue safeboot");
    else
      EditBootIni(false);
    QueueSafeModeCopyForDeletion(self);
    return false;
  }
  // An unattended run has nobody to answer the offer.
  if (IsUnattended()) return false;
  UiText ask(IDS_SAFEMODE_ASK);
  if (UiMessageBox(nullptr, ask.text, caption, MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
  UiText confirm(IDS_SAFEMODE_RESTART);
  if (UiMessageBox(nullptr, confirm.text, caption, MB_YESNO | MB_ICONQUESTION) != IDYES) return false;

  if (vistaOrLater)
    RunBootCommand(L"bcdedit.exe /set safeboot minimal");
  else
    EditBootIni(true);
  // Without the copy nothing is registered: the original may lie where users can write.
  if (CopySelf(self) && RegisterRunOnce(self)) {
    RestartWindows();
  } else {
    UiText failed(IDS_RUNONCE_FAILED);
    UiMessageBox(nullptr, failed.text, caption, MB_ICONWARNING);
  }
  return true;
}

int StartupSequence(HINSTANCE instance, const wchar_t* commandLine, const StartupServices& services) {
  g_instance = instance;
  g_uiLanguage = GetUserDefaultUILanguage();
  std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
  // "/?" shows the usage and does nothing else, whatever else the command line says; with
  // "/unattended" a box it would need is not shown either.
  if (AsksForUsage(arguments)) {
    if (HasSwitch(arguments, L"unattended")) SetUnattended(true);
    ShowUsage();
    return kExitDone;
  }
  std::wstring unknown;
  if (FindUnknownSwitch(arguments, &unknown)) return RefuseUnknownSwitch(arguments, unknown);
  NoteReportStart(arguments);
  // A dry run leaves the machine as it found it: no lasting identifier, no privilege, no COM security.
  g_setup.keepMachineUnchanged = HasSwitch(arguments, L"whatif");
  g_setup.Init();
  g_setup.resourceModule = instance;
  g_setup.language = g_uiLanguage;
  WriteSystemReport(!g_setup.keepMachineUnchanged);
  ParseSwitches(arguments);
  OpenRunLog();
  if (g_whatIf) return DryRun(services);

  int exitCode = kExitDone;
  if (g_forceUninstall && ForcedUninstall(*services.steps, &exitCode)) return exitCode;

  wchar_t caption[MAX_PATH] = {0};
  LoadUiString(g_instance, IDS_APP_CAPTION, caption, MAX_PATH, g_uiLanguage);

  if (g_setup.UiMode != Silent && g_setup.osVersion.dwPlatformId == VER_PLATFORM_WIN32_NT &&
      SafeModeBlock(caption))
    return 0;

  bool selfProtection = services.probeSelfProtection() != 0;
  NoteReportSelfProtection(selfProtection);
  if (selfProtection) {
    UiText refused(IDS_SELFPROTECTION);
    UiMessageBox(nullptr, refused.text, caption, MB_ICONERROR);
    return kExitRefused;
  }

  if (g_setup.UiMode != Interactive && g_setup.UiMode != Silent) {
    ChooseProgramFolder();
    RunOutcome outcome;
    RemovalRun(*services.steps, &outcome);
    return FinishRun(outcome);
  }
  DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
  return kExitDone;
}
}  // namespace

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
  enum State { Between, Quoted, Plain } state = Between;
  std::vector<std::wstring> arguments;
  std::wstring current;
  for (const wchar_t* p = commandLine ? commandLine : L""; *p; ++p) {
    wchar_t c = *p;
    switch (state) {
      case Between:
        if (c <= 0x20) break;
        if (c == L'"') {
          state = Quoted;
        } else {
          current.assign(1, c);
          state = Plain;
        }
        break;
      case Quoted:
      case Plain: {
        bool ends = state == Quoted ? c == L'"' : c <= 0x20;
        if (!ends) {
          current += c;
          break;
        }
        arguments.push_back(current);
        current.clear();
        state = Between;
        break;
      }
    }
  }
  if (state != Between) arguments.push_back(current);
  return arguments;
}

void ParseSwitches(const std::vector<std::wstring>& arguments) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& arg = arguments[i];
    if (arg.empty() || (arg[0] != L'/' && arg[0] != L'-')) continue;
    const wchar_t* word = arg.c_str() + 1;  // compared after the prefix, so '-' equals '/'
    bool hasValue = i + 1 < arguments.size();
    if (_wcsicmp(word, L"silent") == 0) {
      if (g_setup.UiMode != VerySilent) g_setup.UiMode = Silent;
      g_setup.RestartNeeded = true;
    } else if (_wcsicmp(word, L"verysilent") == 0) {
      g_setup.UiMode = VerySilent;
      g_setup.RestartNeeded = false;
    } else if (_wcsicmp(word, L"unattended") == 0) {
      SetUnattended(true);
      g_setup.UiMode = VerySilent;
      g_setup.RestartNeeded = false;
    } else if (_wcsicmp(word, L"noreboot") == 0) {
      g_setup.RestartNeeded = false;
      g_noReboot = true;
    } else if (_wcsicmp(word, L"forceuninstallpro") == 0) {
      g_forceUninstall = true;
    } else if (_wcsicmp(word, L"forcerestart") == 0) {
      g_forceRestart = true;
    } else if (_wcsicmp(word, L"prod") == 0 && hasValue) {
      g_productKind = arguments[++i];
    } else if (_wcsicmp(word, L"log") == 0 && hasValue) {
      g_logPath = arguments[++i];
    } else if (_wcsicmp(word, L"whatif") == 0) {
      g_whatIf = true;
    } else if (_wcsicmp(word, L"report") == 0 && hasValue) {
      g_reportPath = arguments[++i];
    } else if (_wcsicmp(word, L"folder") == 0 && hasValue) {
      g_folderPath = arguments[++i];
    }
  }
}

void OfferRestart() {
  if (!g_setup.RestartNeeded) return;
  UiText caption(IDS_RESTART_CAPTION);
  UiText text(IDS_RESTART_TEXT);
  if (g_forceRestart) {
    RestartWindows();
    return;
  }
  if (g_setup.UiMode == VerySilent) return;
  if (UiMessageBox(g_mainDialog, text.text, caption.text, MB_YESNO | MB_ICONQUESTION) == IDYES) RestartWindows();
}

int RunStartup(HINSTANCE instance, const wchar_t* commandLine, const StartupServices& services) {
  int exitCode = FinishReport(StartupSequence(instance, commandLine, services));
  if (g_logFile) {
    CUFile file;
    if (file.Attach(g_logFile.get())) g_logFile.release();
    g_log.SaveTo(file, LOG_DBG, 1);
  }
  g_logFile.reset();
  return exitCode;
}
