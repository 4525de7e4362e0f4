#pragma once

// Wildcard patterns for file and entry names: "*" stands for any run of
// characters ("/" included), "?" for exactly one character (not one byte);
// a pattern is matched against the whole name. Matching never takes
// exponential time.
//
// The case rule of the program (see text/LetterCase.h): names are compared
// after folding every code point to upper then to lower case, by Unicode's
// tables whatever the process's locale; stray bytes match only themselves.

#include <string_view>

namespace text {

// Whether a name is a pattern at all.
bool hasWildcards(std::string_view name);

// Whole-text match of code points, exactly as they are.
bool matchesWildcards(std::u32string_view text, std::u32string_view pattern);

// Whole-name match of UTF-8 texts under the program's case rule.
bool matchesIgnoringCase(std::string_view name, std::string_view pattern);

} // namespace text
