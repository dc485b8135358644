// Telling whether two paths name the same folder, whatever the spelling: the alias forms a
// path may take, and the identity (volume serial number and file index) of what it names.
#pragma once
#include <windows.h>

#include <string>

// True for a path that reaches a folder through an alias rather than its plain name: the
// device and object namespaces ("\\.\", "\\?\", "\??\", with either slash) and a network path
// to an administrative share ("\\host\C$\...").
bool IsAliasPath(const std::wstring& path);

struct FolderIdentity {
  DWORD volumeSerial = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  bool operator==(const FolderIdentity& o) const {
    return volumeSerial == o.volumeSerial && indexHigh == o.indexHigh && indexLow == o.indexLow;
  }
};

// The identity of what `path` names, read through a handle opened on it without following a
// reparse point (FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, attributes only).
// False when it cannot be opened or read.
bool GetFolderIdentity(const std::wstring& path, FolderIdentity* identity);
