#pragma once

// Numbers read from text the way the window's code expects them.

#include <string_view>

namespace text {

// The number a text begins with, as a decimal number: leading blanks, tabs
// and line ends are skipped, reading stops at the first character that
// cannot continue the number; no leading number gives 0.
double leadingNumber(std::string_view text);

// Nearest whole number, an exact half going to the even neighbour.
double roundHalfEven(double value);

} // namespace text
