#include "app/whatif.h"

#include <windows.h>

#include "app/app_state.h"
#include "app/run_report.h"
#include "app/usage.h"
#include "log/log.h"
#include "resources/resource.h"
#include "ui/prompt.h"
#include "ui/ui_strings.h"

namespace {
std::wstring Count(size_t n) {
  wchar_t digits[24];
  int i = 0;
  do {
    digits[i++] = static_cast<wchar_t>(L'0' + n % 10);
    n /= 10;
  } while (n);
  std::wstring out;
  while (i) out += digits[--i];
  return out;
}

std::wstring ItemLine(const Residue& r) {
  std::wstring line = L"  " + r.kind;
  if (!r.view.empty()) line += L" (" + r.view + L" view)";
  return line + L": " + r.what + L" - " + kProbeSteps[r.step].reason;
}

std::wstring Summary(size_t items, size_t refused, bool selfProtection) {
  return L"Dry run: the removal would remove " + Count(items) + L" items and refuse " + Count(refused) +
         L"; the self-protection is " + (selfProtection ? L"on" : L"off") + L". Nothing was changed.";
}

void LogLines(const std::wstring& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    g_log.Print(LOG_MIN, LOG_GENERAL, L"%s", text.substr(start, end - start).c_str());
    start = end + 1;
  }
}
}  // namespace

std::wstring WhatIfText(const ResidueList& items, const RefusalList& refused, bool selfProtection) {
  std::wstring text = L"What the removal would remove (dry run, nothing is changed)\n";
  text += L"Self-protection: " + std::wstring(selfProtection ? L"on (a removal would be refused)" : L"off") + L"\n";
  text += L"Program folder: " + (g_detectedProgramFolder.empty() ? std::wstring(L"none") : g_detectedProgramFolder) +
          (g_folderFromSwitch ? L" (from /folder)" : L"") + L"\n";
  for (size_t step = 0; step < kProbeStepCount; ++step) {
    size_t n = 0;
    std::wstring lines;
    for (const Residue& r : items)
      if (r.step == static_cast<int>(step)) {
        lines += ItemLine(r) + L"\n";
        ++n;
      }
    text += L"Step " + Count(step + 1) + L", " + kProbeSteps[step].name + L": " + Count(n) + L" items\n" + lines;
  }
  text += L"In all: " + Count(items.size()) + L" items\n";
  text += L"Would refuse: " + Count(refused.size()) + L" items\n";
  for (const Refusal& r : refused) text += L"  " + r.kind + L": " + r.what + L" - " + r.reason + L"\n";
  return text + Summary(items.size(), refused.size(), selfProtection);
}

int RunWhatIf(bool selfProtection) {
  RefusalList refused = ProbeRefusals();
  ResidueList items = ProbeSuiteResidueBesides(refused);
  NoteReportProbes(items, MarkQueued(items), refused);
  std::wstring text = WhatIfText(items, refused, selfProtection);
  LogLines(text);
  if (!WriteToParentConsole(text) && !IsUnattended()) {
    wchar_t caption[MAX_PATH] = {0};
    LoadUiString(g_instance, IDS_APP_CAPTION, caption, MAX_PATH, g_uiLanguage);
    UiMessageBox(nullptr, Summary(items.size(), refused.size(), selfProtection).c_str(), caption,
                 MB_OK | MB_ICONINFORMATION);
  }
  return items.empty() ? 0 : 1;
}
