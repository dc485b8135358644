// Links planted inside folders being removed, and as the matched folder itself: the walk
// removes (or, where Wine cannot, leaves) the link, never enters it, queues nothing
// through it, and ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sysops/files.h"
#include "sysops/reboot_queue.h"
#include "tests/support/test_support.h"
#include "tests/support/unix_links.h"

using namespace qtxtest;

namespace {

std::wstring ShortName(const std::wstring& path) {
  wchar_t out[MAX_PATH] = {0};
  DWORD n = GetShortPathNameW(path.c_str(), out, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? out : L"";
}

bool StartsWithNoCase(const std::wstring& s, const std::wstring& prefix) {
  return !prefix.empty() && s.size() >= prefix.size() &&
         _wcsnicmp(s.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// Queue entries that lie below `folder` (long or 8.3 form).
std::vector<std::wstring> QueuedBelow(const std::wstring& folder) {
  std::vector<std::wstring> hits;
  std::wstring shortForm = ShortName(folder);
  for (const std::wstring& e : RebootQueueEntries())
    if (StartsWithNoCase(e, folder + L"\\") || StartsWithNoCase(e, shortForm + L"\\")) hits.push_back(e);
  return hits;
}

struct LinkCase {
  const wchar_t* name;
  const wchar_t* walked;  // RemoveTree's path, below the case's folder
  const wchar_t* link;    // the link, below the case's folder
  bool toOwnFolder;       // the link points at its own folder, not the bystander
  bool rebootFallback;
  bool rebootOnly;
};

}  // namespace

TEST(FolderLinks, WalkRemovesOrLeavesLinksButNeverEntersThem) {
  const LinkCase cases[] = {
      {L"inside", L"prog", L"prog\\data", false, true, false},
      {L"deeper", L"prog", L"prog\\sub\\data", false, false, false},
      {L"matched", L"prog", L"prog", false, true, false},
      {L"matchedwild", L"pro*", L"prog", false, false, false},
      {L"lasting", L"store", L"store\\cache", false, true, true},
      {L"pairback", L"loop", L"loop\\a", true, true, true},
      {L"pairnow", L"loop", L"loop\\a", true, true, false},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    ResetRebootQueueForTests();
    ClearLog();
    std::wstring root = ScratchDir(std::wstring(L"links_") + c.name);
    std::wstring bystander = root + L"\\bystander";
    ASSERT_TRUE(CreateDirectoryW(bystander.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((bystander + L"\\inner").c_str(), nullptr));
    const std::wstring keep[] = {bystander + L"\\keep.dll", bystander + L"\\inner\\keep.sys"};
    for (const auto& f : keep) ASSERT_TRUE(WriteBytes(f, "bystander"));
    ASSERT_TRUE(SetFileAttributesW(keep[0].c_str(), FILE_ATTRIBUTE_READONLY));

    // The walked tree: a file in each folder, except where the link is the walked folder.
    std::wstring link = root + L"\\" + c.link;
    std::wstring linkParent = link.substr(0, link.rfind(L'\\'));
    std::vector<std::wstring> ownFiles;
    for (std::wstring d = linkParent; d.size() > root.size(); d = d.substr(0, d.rfind(L'\\')))
      ownFiles.insert(ownFiles.begin(), d + L"\\own.txt");  // outermost first
    for (const auto& f : ownFiles) {
      CreateDirectoryW(f.substr(0, f.rfind(L'\\')).c_str(), nullptr);
      ASSERT_TRUE(WriteBytes(f, "suite"));
    }
    std::wstring target = c.toOwnFolder ? linkParent : bystander;
    ASSERT_TRUE(PlantFolderLink(link, target));
    if (c.toOwnFolder) {
      ASSERT_TRUE(PlantFolderLink(linkParent + L"\\b", linkParent));
    }

    RemoveTree((root + L"\\" + c.walked).c_str(), L"*.*", true, c.rebootFallback, c.rebootOnly);

    for (const auto& f : keep) EXPECT_TRUE(PathExists(f)) << Narrow(f);
    EXPECT_EQ(GetFileAttributesW(keep[0].c_str()) & FILE_ATTRIBUTE_READONLY, DWORD{FILE_ATTRIBUTE_READONLY})
        << "the bystander's attributes were reset through the link";
    EXPECT_TRUE(QueuedBelow(bystander).empty());
    EXPECT_TRUE(QueuedBelow(link).empty()) << "queued through the link";
    // One line for the link: removed (Windows), or left in place (Wine cannot remove it: 145,
    // or 32 for a link to the folder being listed).
    int linkLines = 0;
    for (const std::wstring& t : LogTexts())
      linkLines += t == L"Removed link (not followed): " + link ||
                   StartsWithNoCase(t, L"Cannot remove link, left in place (not followed): " + link + L" (0x");
    EXPECT_EQ(linkLines, 1) << LogDump();
    // The suite's own files are still handled: deleted now, or queued with rebootOnly.
    for (const auto& f : ownFiles) {
      if (c.rebootOnly)
        EXPECT_TRUE(PathExists(f) && !RebootQueueEntries().empty()) << Narrow(f);
      else
        EXPECT_FALSE(PathExists(f)) << Narrow(f);
    }

    if (c.toOwnFolder) DropLink(linkParent + L"\\b");
    EXPECT_TRUE(DropLink(link));
  }
  ResetRebootQueueForTests();
}
