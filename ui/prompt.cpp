#include "ui/prompt.h"

namespace {
UiPromptHook g_promptHook = nullptr;
RestartHook g_restartHook = nullptr;
}  // namespace

int UiMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  if (g_promptHook) return g_promptHook(owner, text, caption, type);
  return MessageBoxW(owner, text, caption, type);
}

void SetUiPromptHook(UiPromptHook hook) { g_promptHook = hook; }
void SetRestartHook(RestartHook hook) { g_restartHook = hook; }
RestartHook GetRestartHook() { return g_restartHook; }
