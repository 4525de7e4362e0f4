#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace unzip32 {

// The path components of a stored entry name, below the extraction folder.
// "\" reads as "/"; empty and "." components are dropped. Throws an
// EntryFault (UZP_UNSAFE_ENTRY) for an absolute name, a drive letter or a
// ".." component. A name such as "./" gives no component: the folder itself.
std::vector<std::string> storedComponents(std::string_view storedName);

// Whether a symbolic link in the folder given by linkFolders (components
// below the extraction folder) that points to target resolves inside the
// extraction folder. ".." is accepted only at the start of the target.
bool targetStaysInside(const std::vector<std::string>& linkFolders, std::string_view target);

std::string spacesAsUnderscores(std::string text);

} // namespace unzip32
