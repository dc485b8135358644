// Links planted from the Unix side of the prefix: Wine makes no usable link itself
// (CreateSymbolicLinkW, FSCTL_SET_REPARSE_POINT), but lists a Unix symbolic link to a folder
// as a folder with FILE_ATTRIBUTE_REPARSE_POINT, the way Windows lists a junction.
#pragma once
#include <string>

namespace qtxtest {

// The Unix name Wine maps a Windows path to (UTF-8); empty when Wine cannot map it.
std::string UnixPathOf(const std::wstring& windowsPath);

// Makes `link` (which must not exist yet; its parent must) a Unix symbolic link to the
// folder `target`, by running /bin/ln. Waits until Wine lists it as a reparse point; true then.
// Give the target files: Wine's RemoveDirectoryW on a link to an empty folder deletes the
// target folder.
bool PlantFolderLink(const std::wstring& link, const std::wstring& target);

// Makes `link` a Unix symbolic link to the file `target` (Wine lists it as a plain file:
// nothing in its attributes shows the link). True once `link` exists.
bool PlantFileLink(const std::wstring& link, const std::wstring& target);

// Removes a planted link (not its target) with /bin/rm; true when it is gone.
bool DropLink(const std::wstring& link);

}  // namespace qtxtest
