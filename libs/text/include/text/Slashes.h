#pragma once

// Path separators in texts that come from outside the program (instruction
// file fields, archive and folder options, zip name lists): "\" means "/".

#include <string>
#include <string_view>

namespace text {

std::string withForwardSlashes(std::string_view path);

} // namespace text
