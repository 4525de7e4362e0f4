#pragma once

// Letter case, the one rule for the whole program and both zip libraries.
//
// The case rule of the program: file names do not depend on letter case.
// Two names are the same name when their folded forms are equal; folding maps
// every code point to upper case and then to lower case (so that letters with
// several lower forms, final sigma for one, meet), with Unicode's tables from
// the C.UTF-8 locale whatever the process's own locale is. Upper-casing maps
// every code point to its upper case by the same tables. Bytes that are not
// valid UTF-8 are kept as they are and match only themselves. Should the
// system lack the C.UTF-8 locale, only ASCII letters are mapped.

#include <string>
#include <string_view>

namespace text {

// The folded form of one code point.
char32_t foldCase(char32_t codePoint);
// The folded form of a UTF-8 text, one code point a character.
std::u32string foldCase(std::string_view text);
// Folds every code point in place.
void foldCaseInPlace(std::u32string& codePoints);

// The upper case of a UTF-8 text, Unicode letters included.
std::string upperCase(std::string_view text);

} // namespace text
