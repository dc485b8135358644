// Start-up: the command line, the start-up sequence and the end-of-run restart prompt.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "app/removal_run.h"

// Exit codes. Without "/unattended" only kExitDone and kExitRefused occur; unattended runs
// report with the installer conventions that deployment tools read.
enum ExitCode : int {
  kExitDone = 0,               // done (unattended: removed, nothing left for a restart)
  kExitRefused = 1,            // refused: the suite's self-protection is enabled; "/whatif": something is present
  kExitInvalidSwitch = 87,     // a mistyped switch: nothing done (ERROR_INVALID_PARAMETER)
  kExitFailed = 1603,          // unattended: the registry or the services step failed
  kExitRestartStarted = 1641,  // unattended: removed, and the restart was started
  kExitRestartPending = 3010,  // unattended: removed, a restart will finish it
};

// What the start-up calls that tests replace: the removal catalog and the self-protection
// probe.
struct StartupServices {
  const RemovalSteps* steps;
  DWORD (*probeSelfProtection)();
};
// The product's: kCatalogSteps and ProbeSelfProtection.
extern const StartupServices kProductServices;

// Splits a command line (the part after the program name) into arguments: characters up to
// 0x20 separate; "..." groups (no escapes, an empty pair gives an empty argument); a quote
// inside a plain word is an ordinary character; an unterminated argument is kept.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);

// Applies the switches to the start-up state, later ones overriding earlier ones:
// /silent, /verysilent, /unattended, /noreboot, /forceuninstallpro, /forcerestart,
// /prod <code>, /log <path>, /whatif, /report <path>, /folder <path>; '-' works as '/', case
// does not matter ("/?" and unknown switches are handled before the switches are applied;
// arguments without a switch prefix are ignored).
void ParseSwitches(const std::vector<std::wstring>& arguments);

// Offers the restart at the end of a run (or performs it with /forcerestart).
void OfferRestart();

// The start-up sequence of wWinMain; returns the process exit code (ExitCode). Saves the log
// to the "/log" path, if any.
int RunStartup(HINSTANCE instance, const wchar_t* commandLine,
               const StartupServices& services = kProductServices);

// The path given with "/log", or empty.
extern std::wstring g_logPath;
