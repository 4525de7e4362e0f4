#pragma once

// Cutting a text into pieces and replacing pieces of it, byte for byte.
//
// How this library fails, everywhere: it never raises. A text that is not
// what a reader wants (no number, no version) comes back as nothing.

#include <string>
#include <string_view>
#include <vector>

namespace text {

// Cut at every separator; n separators give n + 1 pieces, and the empty
// text gives none.
std::vector<std::string> splitText(std::string_view text, char separator);

// The text without the given characters at its start and its end.
std::string_view trimmed(std::string_view text, std::string_view characters);

// Every occurrence of what, left to right and without overlap, replaced.
std::string replaceAll(std::string_view text, std::string_view what, std::string_view with);

} // namespace text
