#pragma once

// Bounds on how much of a text is shown or kept, cut where a reader can
// tell that it was.

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

// The first `most` lines of text (lines end at "\n", which they keep), and
// how many lines follow them; a last line without "\n" counts.
struct FirstLines {
    std::string shown;
    std::size_t more = 0;
};
FirstLines firstLines(std::string_view text, std::size_t most);

// The text cut to at most `most` bytes, never inside a UTF-8 sequence, with
// `mark` at its end when it was cut (the mark counts in the bound).
std::string cutToBytes(std::string_view text, std::size_t most, std::string_view mark);

} // namespace text
