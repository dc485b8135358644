// "/?": the switches and exit codes, on the console the program was started from, or in a
// message box when there is none.
#pragma once
#include <string>
#include <vector>

// The switches the program knows (without "/" or "-"), and whether each takes the next
// argument as its value.
struct SwitchInfo {
  const wchar_t* word;
  bool takesValue;
};
extern const SwitchInfo kSwitches[];
extern const size_t kSwitchCount;

// The first argument that starts with "/" or "-" and is no known switch (nor the value of one
// that takes a value), in `unknown`; a switch that takes a value given as the last argument
// counts as unknown, except "/prod" and "/log", which are then ignored as they always were.
// False when there is none.
bool FindUnknownSwitch(const std::vector<std::wstring>& arguments, std::wstring* unknown);

// "major.minor.patch" of the program's version resource; empty when it is missing.
std::wstring ProgramVersion();

// True when the switch `word` (without its "/" or "-", any letter case) is among the
// arguments; the value that follows a switch that takes one is a value, not a switch.
bool HasSwitch(const std::vector<std::wstring>& arguments, const wchar_t* word);

// True when the arguments ask for the usage text ("/?", "-?", "/help", any letter case). The
// value that follows "/prod" or "/log" is a value, not a switch.
bool AsksForUsage(const std::vector<std::wstring>& arguments);

// The usage text in the UI language (English where there is no translation), with the
// version from the program's version resource.
std::wstring UsageText();

// Writes the text to the starter's redirected standard output or to the console of the
// parent process. False when there is neither.
bool WriteToParentConsole(const std::wstring& text);

// The text on the parent's console, or else in a message box (through the prompt function,
// so that an unattended run only logs it).
void ShowUsage();
