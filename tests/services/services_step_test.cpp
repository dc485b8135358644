// The services step over Wine's service manager: on a prefix without the suite's services,
// and with planted stand-ins, two of which fail to uninstall (they refuse to stop and are
// already marked for deletion, so their deletion fails with 1072).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/probe.h"
#include "log/log.h"
#include "sysops/services.h"
#include "tests/services/service_support.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
const wchar_t* const kRows[] = {
    L"velko! Remote Install Service", L"velko! Net Client Service", L"velko! Mail Scanner", L"velko! Firewall",
    L"velko! Antivirus", L"velko! Enterprise Client Service", L"velkoWHSP", L"VelkoWhsClient",
    L"Velko.WHS.Provider.exe", L"Velko.WHS.Client.exe", L"qtxRvrt", L"qtxVmm",
};

std::vector<std::wstring> UninstalledLines() {
  std::vector<std::wstring> lines;
  for (const std::wstring& text : LogTexts())
    if (text.rfind(L"Service ", 0) == 0 && text.find(L" uninstalled") != std::wstring::npos) lines.push_back(text);
  return lines;
}

TEST(ServicesStep, NoServicesInstalled) {
  for (const wchar_t* name : kRows) RemovePlantedService(name);
  ResidueList residue;
  ProbeServices(residue);
  EXPECT_TRUE(residue.empty());
  ScriptedPrompts prompts;
  ClearLog();
  EXPECT_EQ(0u, RemoveServices());
  std::vector<std::wstring> expected;
  for (size_t i = 2; i < 12; ++i) expected.push_back(std::wstring(L"Service ") + kRows[i] + L" uninstalled");
  EXPECT_EQ(expected, UninstalledLines());
  EXPECT_EQ(expected.size(), LogTexts().size()) << Narrow(LogDump());
  EXPECT_TRUE(prompts.prompts().empty());
}

TEST(ServicesStep, FailuresFromRowFiveOnShowBoxes) {
  struct Planted {
    const wchar_t* name;
    const wchar_t* args;
    bool running;
    bool markedForDeletion;
  };
  const Planted planted[] = {
      {L"velko! Remote Install Service", L"stop", false, false},  // only if installed: it is
      {L"velko! Mail Scanner", L"pending 300", true, false},       // stopped, then uninstalled
      {L"velko! Antivirus", L"refuse", true, true},                // fails: box
      {L"qtxVmm", L"refuse", true, true},                          // fails: box, and the result
  };
  for (const wchar_t* name : kRows) RemovePlantedService(name);
  for (const Planted& p : planted) {
    ASSERT_TRUE(PlantStandinService(p.name, p.args, p.running)) << Narrow(p.name);
    if (p.markedForDeletion) {
      ASSERT_EQ(0u, UninstallService(p.name));
    }
  }
  ResidueList residue;
  ProbeServices(residue);
  std::vector<std::wstring> found;
  for (const Residue& r : residue) {
    EXPECT_EQ(L"service", r.kind);
    found.push_back(r.what);
  }
  EXPECT_EQ((std::vector<std::wstring>{L"velko! Remote Install Service", L"velko! Mail Scanner",
                                       L"velko! Antivirus", L"qtxVmm"}),
            found);

  ScriptedPrompts prompts;
  ClearLog();
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), RemoveServices()) << Narrow(LogDump());
  ASSERT_EQ(2u, prompts.prompts().size());
  for (const Prompt& p : prompts.prompts()) {
    EXPECT_EQ(nullptr, p.owner);
    EXPECT_EQ(L"uninstall service error 0x00000430", p.text);
    EXPECT_EQ(L"", p.caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK), p.type);
  }
  EXPECT_TRUE(LogHas(L"Service velko! Remote Install Service uninstalled"));
  EXPECT_FALSE(LogHas(L"Service velko! Net Client Service uninstalled"));
  EXPECT_TRUE(LogHas(L"Service velko! Mail Scanner stopped, errcode: 0x00000000"));
  EXPECT_TRUE(LogHas(L"Service velko! Mail Scanner uninstalled"));
  EXPECT_TRUE(LogHas(L"Service velko! Antivirus NOT uninstalled, error code: 0x00000430"));
  EXPECT_TRUE(LogHas(L"Service qtxVmm NOT uninstalled, error code: 0x00000430"));
  EXPECT_FALSE(IsServiceInstalled(L"velko! Mail Scanner"));
  EXPECT_FALSE(IsServiceInstalled(L"velko! Remote Install Service"));

  for (const Planted& p : planted) RemovePlantedService(p.name);
  residue.clear();
  ProbeServices(residue);
  EXPECT_TRUE(residue.empty());
}

// A failure before the last row stays the result when later rows succeed.
TEST(ServicesStep, EarlierFailureStaysTheResult) {
  for (const wchar_t* name : kRows) RemovePlantedService(name);
  ASSERT_TRUE(PlantStandinService(L"velko! Firewall", L"refuse", true));
  ASSERT_EQ(0u, UninstallService(L"velko! Firewall"));
  ScriptedPrompts prompts;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), RemoveServices());
  EXPECT_TRUE(prompts.prompts().empty());  // row 4: logged only
  RemovePlantedService(L"velko! Firewall");
}
}  // namespace
