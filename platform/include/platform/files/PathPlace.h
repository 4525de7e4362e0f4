#pragma once

#include <string>

namespace platform {

// The path with its existing part followed through links, "." and "..";
// what does not exist yet is kept as written.
std::string canonicalPath(const std::string& path);

// Whether path is folder or lies inside it, both taken as canonicalPath has
// them and compared without regard to letter case, as the program names
// files.
bool liesWithin(const std::string& path, const std::string& folder);

} // namespace platform
