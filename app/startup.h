// Start-up: the command line, the start-up sequence and the end-of-run restart prompt.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Splits a command line (the part after the program name) into arguments: characters up to
// 0x20 separate; "..." groups (no escapes, an empty pair gives an empty argument); a quote
// inside a plain word is an ordinary character; an unterminated argument is kept.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);

// Applies the switches to the start-up state, later ones overriding earlier ones:
// /silent, /verysilent, /noreboot, /forceuninstallpro, /forcerestart, /prod <code>,
// /log <path>; '-' works as '/', case does not matter, anything else is ignored.
void ParseSwitches(const std::vector<std::wstring>& arguments);

// Offers the restart at the end of a run (or performs it with /forcerestart).
void OfferRestart();

// The start-up sequence of wWinMain; returns the process exit code (1 = refused because
// the self-protection is enabled, 0 otherwise). Saves the log to the "/log" path, if any.
int RunStartup(HINSTANCE instance, const wchar_t* commandLine);

// The path given with "/log", or empty.
extern std::wstring g_logPath;
