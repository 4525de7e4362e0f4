#pragma once

#include <string>
#include <string_view>

namespace platform {

// Pieces of "/"-separated path texts; nothing here looks at the disk.

// The path without trailing "/", except that "/" stays "/".
std::string withoutTrailingSlash(std::string_view path);
// The folder part: "." for a bare name, "/" for an entry of the root.
std::string folderOf(std::string_view path);
// The part after the last "/".
std::string nameOf(std::string_view path);
// folder + "/" + name, with no doubled "/" and a bare name for an empty folder.
std::string joinPath(std::string_view folder, std::string_view name);

} // namespace platform
