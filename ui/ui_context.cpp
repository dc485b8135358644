#include "ui/ui_context.h"

HINSTANCE g_instance = nullptr;
WORD g_uiLanguage = 0;
HWND g_mainDialog = nullptr;

void ResetUiContext() {
  g_instance = nullptr;
  g_uiLanguage = 0;
  g_mainDialog = nullptr;
}
