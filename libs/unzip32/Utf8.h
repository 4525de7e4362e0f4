#pragma once

#include <string>
#include <string_view>

namespace unzip32 {

// Code points of a UTF-8 text; a byte that is not valid UTF-8 becomes a code
// point of its own (a lone surrogate) that no letter case maps to. that no letter case maps to.
std::u32string decodeUtf8(std::string_view text);

// Lower case for every letter that has one, Unicode letters included.
void foldCase(std::u32string& text);

} // namespace unzip32
