#pragma once

// Wildcard patterns for file and entry names: "*" stands for any run of
// characters ("/" included), "?" for exactly one character (not one byte);
// a pattern is matched against the whole name. Matching never takes
// exponential time.

#include <string_view>

namespace text {

// Whether a name is a pattern at all.
bool hasWildcards(std::string_view name);

// Whole-text match of code points, exactly as they are.
bool matchesWildcards(std::u32string_view text, std::u32string_view pattern);

// Whole-name match of UTF-8 texts under the program's case rule
// (text/LetterCase.h).
bool matchesIgnoringCase(std::string_view name, std::string_view pattern);

} // namespace text
