// Start-up: the command line, the start-up sequence and the end-of-run restart prompt.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Splits a command line (the part after the program name) into arguments: white space
// (codes <= 0x20) separates; "..." groups, without escapes; a quote inside a plain word is text.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);

// Applies the switches (/silent, /verysilent, /noreboot, /forceuninstallpro, /forcerestart,
// /prod value; '-' or '/' prefix, any case) to the start-up state. Also "/log path".
void ParseSwitches(const std::vector<std::wstring>& arguments);

// The status query to the self-protection driver; 0 when it is absent.
DWORD ProbeSelfProtection();

// Offers (or with /forcerestart performs) the restart at the end of a run.
void OfferRestart();

// The whole start-up sequence of wWinMain; returns the process exit code.
int RunStartup(HINSTANCE instance, const wchar_t* commandLine);

// The path given with "/log", or empty.
extern std::wstring g_logPath;
