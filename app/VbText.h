#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Text and number rules the window's code relies on.

// The number a text begins with, as a decimal number: leading blanks, tabs
// and line ends are skipped, reading stops at the first character that
// cannot continue the number; no leading number gives 0.
double leadingNumber(const std::string& text);

// Nearest whole number, an exact half going to the even neighbour.
double roundHalfEven(double value);

// Rounded half-even into a 32-bit signed integer; outside that range the
// overflow error 6 is raised with the given source.
int32_t roundToInt32(double value, const std::string& source);

// Cut at every separator; n separators give n + 1 pieces, and the empty
// text gives none.
std::vector<std::string> splitText(const std::string& text, char separator);

// Upper case of UTF-8 text, Unicode letters included; bytes that are not
// valid UTF-8 are kept as they are.
std::string upperCase(const std::string& text);

// Every occurrence of what, left to right and without overlap, replaced.
std::string replaceAll(const std::string& text, const std::string& what, const std::string& with);
