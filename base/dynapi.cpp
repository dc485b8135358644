#include "base/dynapi.h"

#include <cstring>
#include <string>
#include <vector>

namespace {
struct Override {
  std::string name;
  FARPROC replacement;
};
std::vector<Override>& Overrides() {
  static std::vector<Override> overrides;
  return overrides;
}
bool FindOverride(const char* name, FARPROC* out) {
  for (const Override& o : Overrides()) {
    if (o.name == name) {
      *out = o.replacement;
      return true;
    }
  }
  return false;
}
}  // namespace

FARPROC LookupProcIn(HMODULE module, const char* name) {
  FARPROC replaced;
  if (FindOverride(name, &replaced)) return replaced;
  return module ? GetProcAddress(module, name) : nullptr;
}

FARPROC LookupProc(const wchar_t* module, const char* name) {
  FARPROC replaced;
  if (FindOverride(name, &replaced)) return replaced;
  HMODULE h = GetModuleHandleW(module);
  return h ? GetProcAddress(h, name) : nullptr;
}

void OverrideProc(const char* name, FARPROC replacement) {
  for (Override& o : Overrides()) {
    if (o.name == name) {
      o.replacement = replacement;
      return;
    }
  }
  Overrides().push_back({name, replacement});
}

void ClearProcOverrides() { Overrides().clear(); }
