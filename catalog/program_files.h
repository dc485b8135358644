// The folder rules of the program-files step, for its tests.
#pragma once
#include <string>
#include <vector>

// The folder as the step uses it: made absolute and canonical ("." and ".." resolved, '/'
// turned into '\'), its long form where it exists, and without trailing backslashes unless it
// is a drive root. Empty for an empty folder and for one that is not an absolute path.
std::wstring FolderAsUsed(const std::wstring& typed);

// The safety rule: true for a folder that must not be emptied - the Windows folder and
// anything beginning with its characters, a drive root (shorter than 4 characters), each
// Program Files and Common Files folder of both registry views, the profiles root, the common
// application-data root and the current user's profile folder themselves (folders below these
// are allowed), and a path that is empty, not absolute or holds wildcards.
bool IsRefusedFolder(const std::wstring& typed);

// The ad blocker's folder beside a program folder: the folder's characters up to its first
// "Velko" (this letter case) followed by "velko! Ad Blocker IE". Empty when there is none.
std::wstring AdBlockerFolderOf(const std::wstring& programFolder);

// The folders the step empties and removes as whole trees (program, ad-blocker, data, the
// application-data folders and the loose ones), as it addresses them; refused ones left out.
std::vector<std::wstring> RemovedFolderTrees();
