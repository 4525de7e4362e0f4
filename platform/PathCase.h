#pragma once

#include <string>
#include <string_view>

namespace platform {

// A name reduced to a form in which names that differ only in letter case are
// equal. UTF-8 is decoded and every code point folded; bytes that are not
// valid UTF-8 stay distinct from every letter.
std::u32string foldCase(std::string_view name);

// The path with "\" read as "/" and every component that names an existing
// entry spelt as it is on disk. An exact match wins; among entries that differ
// only in case the first in byte order is taken. Components that do not exist
// are kept as written, so new entries get the case the caller gave. A
// trailing "/" is kept.
std::string resolveCase(std::string_view path);

} // namespace platform
