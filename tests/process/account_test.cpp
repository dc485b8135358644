#include "sysops/account.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

using qtxtest::Narrow;

TEST(GetCurrentAccountName, NamesTheTokenUserWithItsDomain) {
  wchar_t name[kAccountNameChars], domain[kAccountDomainChars];
  wmemset(name, L'#', kAccountNameChars);
  wmemset(domain, L'#', kAccountDomainChars);
  ASSERT_NE(GetCurrentAccountName(name, domain), FALSE);

  // The user name Windows reports for the logged-on session is the token user's account.
  wchar_t user[kAccountNameChars] = {0};
  DWORD chars = kAccountNameChars;
  ASSERT_TRUE(GetUserNameW(user, &chars));
  EXPECT_EQ(_wcsicmp(name, user), 0) << Narrow(name) << " vs " << Narrow(user);
  EXPECT_NE(domain[0], L'#');
  EXPECT_NE(domain[0], L'\0');
  EXPECT_LT(wcsnlen(domain, kAccountDomainChars), kAccountDomainChars);

  // The domain is the account's: looking the name up again finds the same one.
  wchar_t qualified[300];
  _snwprintf(qualified, 300, L"%s\\%s", domain, name);
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof sid;
  wchar_t foundDomain[64];
  DWORD domainChars = 64;
  SID_NAME_USE use;
  EXPECT_TRUE(LookupAccountNameW(nullptr, qualified, sid, &sidSize, foundDomain, &domainChars, &use))
      << Narrow(qualified);
}
