#pragma once

// Path separators in texts that come from outside the program (instruction
// file fields, archive and folder options, zip name lists): "\" means "/".
//
// The case rule of the program (see text/LetterCase.h): names are compared
// after folding every code point to upper then to lower case, by Unicode's
// tables whatever the process's locale; stray bytes match only themselves.

#include <string>
#include <string_view>

namespace text {

std::string withForwardSlashes(std::string_view path);

} // namespace text
