#pragma once

#include <span>
#include <string>
#include <string_view>

namespace unzip32 {

// Turns CR LF into LF in data that arrives in pieces; a lone CR stays.
class LineEndTranslator {
public:
    // The translated piece; valid until the next call.
    std::string_view translate(std::span<const char> piece);
    // What is still held back at the end of the data.
    std::string_view finish();

private:
    std::string m_output;
    bool m_heldCarriageReturn = false;
};

// Whether data that the archive does not mark as text still reads as text:
// no zero byte and no control code other than tab, line feed, form feed,
// carriage return and escape.
bool looksLikeText(std::span<const char> start);

} // namespace unzip32
