// Tests that change machine-wide registry values of the prefix (restored afterwards).
#include <gtest/gtest.h>

#include <string>

#include "sysops/files.h"
#include "sysops/registry.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {

// Sets a value under HKEY_LOCAL_MACHINE\subkey (product's view) and puts back what was
// there before when destroyed.
class MachineValue {
 public:
  MachineValue(const wchar_t* subkey, const wchar_t* name, DWORD type, const void* data, DWORD bytes)
      : subkey_(subkey), name_(name) {
    UniqueRegKey probe;
    keyExisted_ = regOpenKey(HKEY_LOCAL_MACHINE, subkey, KEY_READ, probe) == ERROR_SUCCESS;
    if (keyExisted_) {
      DWORD size = sizeof old_;
      hadOld_ = RegQueryValueExW(probe.get(), name, nullptr, &oldType_, old_, &size) == ERROR_SUCCESS;
      oldSize_ = size;
    }
    UniqueRegKey key;
    EXPECT_EQ(regCreateKeyHandle(HKEY_LOCAL_MACHINE, subkey, KEY_SET_VALUE, key), 0);
    EXPECT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes), 0);
  }
  ~MachineValue() {
    UniqueRegKey key;
    if (regOpenKey(HKEY_LOCAL_MACHINE, subkey_.c_str(), KEY_SET_VALUE, key) != ERROR_SUCCESS) return;
    if (hadOld_)
      RegSetValueExW(key.get(), name_.c_str(), 0, oldType_, old_, oldSize_);
    else
      RegDeleteValueW(key.get(), name_.c_str());
    key.reset();
    if (!keyExisted_) regDeleteOneKey(HKEY_LOCAL_MACHINE, subkey_.c_str(), RegView::Plain);
  }

 private:
  std::wstring subkey_, name_;
  bool keyExisted_ = false, hadOld_ = false;
  DWORD oldType_ = 0, oldSize_ = 0;
  BYTE old_[1024] = {};
};

const wchar_t* kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

MachineValue* SetFolder(const wchar_t* name, const std::wstring& folder) {
  return new MachineValue(kShellFolders, name, REG_SZ, folder.c_str(),
                          static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

// Sets the current folder for the life of the object.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::wstring& dir) {
    GetCurrentDirectoryW(MAX_PATH, old_);
    SetCurrentDirectoryW(dir.c_str());
  }
  ~CurrentFolder() { SetCurrentDirectoryW(old_); }

 private:
  wchar_t old_[MAX_PATH];
};

TEST(ShellFolders, UnreadableFolderSkipsTheItemInsteadOfUsingTheCurrentFolder) {
  wchar_t buffer[MAX_PATH];
  if (GetDesktopFolder(buffer) == 0) GTEST_SKIP() << "this prefix has the shell-folder values";
  std::wstring cwd = ScratchDir(L"shell cwd");
  ASSERT_TRUE(WriteBytes(cwd + L"\\Velko.lnk", "x"));
  ASSERT_TRUE(CreateDirectoryW((cwd + L"\\Velko Group").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(cwd + L"\\Velko Group\\a.lnk", "x"));
  CurrentFolder inCwd(cwd);

  EXPECT_EQ(GetDesktopFolder(buffer), 2u);
  EXPECT_EQ(GetProgramsFolder(buffer), 2u);
  EXPECT_FALSE(DeleteDesktopItem(L"Velko.lnk"));
  EXPECT_EQ(RemoveProgramsGroup(L"Velko Group"), 2u);
  EXPECT_TRUE(PathExists(cwd + L"\\Velko.lnk"));
  EXPECT_TRUE(PathExists(cwd + L"\\Velko Group\\a.lnk"));
}

TEST(ShellFolders, DesktopItemsAndProgramsGroupsAreRemoved) {
  std::wstring root = ScratchDir(L"shell folders");
  std::wstring desktop = root + L"\\Desktop", programs = root + L"\\Programs";
  ASSERT_TRUE(CreateDirectoryW(desktop.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(programs.c_str(), nullptr));
  std::unique_ptr<MachineValue> d(SetFolder(L"Common Desktop", desktop));
  std::unique_ptr<MachineValue> p(SetFolder(L"Common Programs", programs));

  wchar_t buffer[MAX_PATH];
  ASSERT_EQ(GetDesktopFolder(buffer), 0u);
  EXPECT_EQ(buffer, desktop);
  ASSERT_EQ(GetProgramsFolder(buffer), 0u);
  EXPECT_EQ(buffer, programs);

  ASSERT_TRUE(WriteBytes(desktop + L"\\Velko.lnk", "x"));
  EXPECT_TRUE(DeleteDesktopItem(L"Velko.lnk"));
  EXPECT_FALSE(PathExists(desktop + L"\\Velko.lnk"));
  EXPECT_FALSE(DeleteDesktopItem(L"Velko.lnk"));
  // No attribute reset for desktop items: a read-only shortcut stays.
  ASSERT_TRUE(WriteBytes(desktop + L"\\ro.lnk", "x"));
  ASSERT_TRUE(SetFileAttributesW((desktop + L"\\ro.lnk").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(DeleteDesktopItem(L"ro.lnk"));
  EXPECT_TRUE(PathExists(desktop + L"\\ro.lnk"));

  std::wstring flat = programs + L"\\Velko", nested = programs + L"\\Velko Tools";
  ASSERT_TRUE(CreateDirectoryW(flat.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(flat + L"\\Velko.lnk", "x"));
  ASSERT_TRUE(WriteBytes(flat + L"\\Uninstall.lnk", "x"));
  EXPECT_EQ(RemoveProgramsGroup(L"Velko"), 0u);
  EXPECT_FALSE(PathExists(flat));

  // Subfolders are not entered, so the group stays with them.
  ASSERT_TRUE(CreateDirectoryW(nested.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((nested + L"\\More").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(nested + L"\\More\\m.lnk", "x"));
  ASSERT_TRUE(WriteBytes(nested + L"\\t.lnk", "x"));
  EXPECT_EQ(RemoveProgramsGroup(L"Velko Tools"), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(PathExists(nested + L"\\t.lnk"));
  EXPECT_TRUE(PathExists(nested + L"\\More\\m.lnk"));
}

TEST(ShortPathForm, WithoutShortNameCreationThePathIsUsedAsItIs) {
  std::wstring dir = ScratchDir(L"long folder no83");
  std::wstring file = dir + L"\\a long file name.txt";
  ASSERT_TRUE(WriteBytes(file, "x"));
  DWORD one = 1;
  MachineValue disabled(L"System\\CurrentControlSet\\Control\\FileSystem", L"NtfsDisable8dot3NameCreation",
                        REG_DWORD, &one, sizeof one);
  wchar_t out[MAX_PATH];
  EXPECT_EQ(ShortPathForm(out, file.c_str(), MAX_PATH), 0u);
  EXPECT_EQ(out, file);
  wchar_t small[8];
  small[7] = L'#';
  EXPECT_EQ(ShortPathForm(small, file.c_str(), 7), 0u);
  EXPECT_EQ(std::wstring(small), file.substr(0, 6));
  EXPECT_EQ(small[7], L'#');
}

}  // namespace
