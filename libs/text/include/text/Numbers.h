#pragma once

// Numbers read from text the way the window's code expects them.
//
// The case rule of the program (see text/LetterCase.h): names are compared
// after folding every code point to upper then to lower case, by Unicode's
// tables whatever the process's locale; stray bytes match only themselves.

#include <string_view>

namespace text {

// The number a text begins with, as a decimal number: leading blanks, tabs
// and line ends are skipped, reading stops at the first character that
// cannot continue the number; no leading number gives 0.
double leadingNumber(std::string_view text);

// Nearest whole number, an exact half going to the even neighbour.
double roundHalfEven(double value);

} // namespace text
