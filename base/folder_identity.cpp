#include "base/folder_identity.h"

#include "base/handles.h"
#include "base/nocase.h"

namespace {
std::wstring WithBackslashes(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

// The share of a network path "\\host\share\...", or "" for any other path.
std::wstring ShareOf(const std::wstring& path) {
  if (path.size() < 3 || path.compare(0, 2, L"\\\\") != 0) return L"";
  size_t hostEnd = path.find(L'\\', 2);
  if (hostEnd == std::wstring::npos || hostEnd == 2) return L"";
  size_t shareEnd = path.find(L'\\', hostEnd + 1);
  return path.substr(hostEnd + 1, shareEnd == std::wstring::npos ? std::wstring::npos : shareEnd - hostEnd - 1);
}
}  // namespace

bool IsAliasPath(const std::wstring& typed) {
  std::wstring path = WithBackslashes(typed);
  for (const wchar_t* prefix : {L"\\\\.\\", L"\\\\?\\", L"\\??\\"})
    if (StartsWithNoCase(path, prefix)) return true;
  std::wstring share = ShareOf(path);
  return !share.empty() && share.back() == L'$';
}

bool GetFolderIdentity(const std::wstring& path, FolderIdentity* identity) {
  UniqueKernelHandle handle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!handle || !GetFileInformationByHandle(handle.get(), &info)) return false;
  identity->volumeSerial = info.dwVolumeSerialNumber;
  identity->indexHigh = info.nFileIndexHigh;
  identity->indexLow = info.nFileIndexLow;
  return true;
}
