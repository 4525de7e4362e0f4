#pragma once

#include <string>
#include <string_view>

namespace platform {

class KnownFolders;

// The path with "\" read as "/" and every component that names an existing
// entry spelt as it is on disk. An exact match wins; among entries that differ
// only in case the first in byte order is taken. Components that do not exist
// are kept as written, so new entries get the case the caller gave. A
// trailing "/" is kept. With known, folders are listed through it, so that a
// folder already read is not read again while it is unchanged.
std::string resolveCase(std::string_view path, KnownFolders* known = nullptr);

} // namespace platform
