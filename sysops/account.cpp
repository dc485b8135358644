#include "sysops/account.h"

#include "setup/setup_globals.h"
#include "base/handles.h"

namespace {
constexpr DWORD kTokenUserBytes = 2000;

// The token user's account; name and domain are written only when the look-up succeeds,
// so that a failure leaves GetUserNameW's answer in place.
void LookupTokenAccount(wchar_t* name, wchar_t* domain) {
  UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_READ, token.put())) return;
  alignas(8) BYTE info[kTokenUserBytes];
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, info, sizeof info, &size)) return;
  wchar_t account[kAccountNameChars] = {0}, accountDomain[kAccountDomainChars] = {0};
  DWORD accountChars = kAccountNameChars, domainChars = kAccountDomainChars;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(info)->User.Sid, account,
                         &accountChars, accountDomain, &domainChars, &use))
    return;
  wmemcpy(name, account, kAccountNameChars);
  name[kAccountNameChars - 1] = L'\0';
  wmemcpy(domain, accountDomain, kAccountDomainChars);
  domain[kAccountDomainChars - 1] = L'\0';
}
}  // namespace

BOOL GetCurrentAccountName(wchar_t* name, wchar_t* domain) {
  domain[0] = L'\0';
  DWORD chars = kAccountNameChars;
  BOOL ok = GetUserNameW(name, &chars);
  if (!ok) name[0] = L'\0';
  if (!ok || !g_setup.IsOS(OS_NT)) return ok;
  LookupTokenAccount(name, domain);
  return ok;
}
