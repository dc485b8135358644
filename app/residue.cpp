#include "app/residue.h"

#include <windows.h>

#include <cwchar>

#include "log/log.h"
#include "resources/resource.h"
#include "sysops/reboot_queue.h"
#include "ui/ui_context.h"
#include "ui/ui_strings.h"

namespace {
constexpr size_t kLineChars = 1024;

// Registry items name a hive or a profile; everything else is a path the queue may hold.
bool IsPathItem(const Residue& item) { return item.what.size() > 2 && (item.what[1] == L':' || item.what[0] == L'\\'); }
}  // namespace

unsigned ResidueCheck::QueuedCount() const {
  unsigned n = 0;
  for (bool q : queued) n += q ? 1 : 0;
  return n;
}

ResidueCheck MarkQueued(const ResidueList& items) {
  ResidueCheck check;
  check.done = true;
  check.items = items;
  check.queued.assign(items.size(), false);
  for (size_t i = 0; i < items.size(); ++i)
    check.queued[i] = IsPathItem(items[i]) && IsQueuedForReboot(items[i].what.c_str());
  return check;
}

void LogResidue(const ResidueCheck& check) {
  g_log.Print(LOG_MIN, LOG_GENERAL, L"Residue check: %u items remain, %u queued for the restart",
              static_cast<unsigned>(check.items.size()), check.QueuedCount());
  for (size_t i = 0; i < check.items.size(); ++i) {
    const Residue& r = check.items[i];
    g_log.Print(LOG_MIN, LOG_GENERAL, L"Remains: %s%s%s%s %s%s", r.kind.c_str(), r.view.empty() ? L"" : L" (",
                r.view.c_str(), r.view.empty() ? L"" : L" view)", r.what.c_str(),
                check.queued[i] ? L" - queued for the restart" : L"");
  }
}

void ShowResidueProgress(const ResidueCheck& check) {
  wchar_t format[kLineChars] = {0}, line[kLineChars] = {0};
  LoadUiString(g_instance, IDS_RESIDUE, format, kLineChars, g_uiLanguage);
  _snwprintf(line, kLineChars - 1, format, static_cast<unsigned>(check.items.size()), check.QueuedCount());
  AppendProgress(line);
}
