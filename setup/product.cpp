#include "setup/product.h"

std::wstring g_detectedProgramFolder;
std::wstring g_detectedDataFolder;
std::wstring g_productRegistryKey;
DWORD g_installedMajorVersion = 0;

void ResetProductFacts() {
  g_detectedProgramFolder.clear();
  g_detectedDataFolder.clear();
  g_productRegistryKey.clear();
  g_installedMajorVersion = 0;
}
