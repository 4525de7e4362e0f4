#pragma once

#include <string_view>

namespace platform {

// Whether a file name is a pattern: "*" stands for any run of characters,
// "?" for any one character.
bool hasWildcards(std::string_view name);

// Whether the name matches the pattern, without regard to letter case.
bool matchesPattern(std::string_view name, std::string_view pattern);

} // namespace platform
