#include "text/Ceiling.h"

namespace text {

FirstLines firstLines(std::string_view text, std::size_t most) {
    FirstLines lines;
    std::size_t at = 0;
    std::size_t count = 0;
    while (at < text.size() && count < most) {
        const std::size_t end = text.find('\n', at);
        at = end == std::string_view::npos ? text.size() : end + 1;
        ++count;
    }
    lines.shown = std::string(text.substr(0, at));
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        at = end == std::string_view::npos ? text.size() : end + 1;
        ++lines.more;
    }
    return lines;
}

std::string cutToBytes(std::string_view text, std::size_t most, std::string_view mark) {
    if (text.size() <= most) {
        return std::string(text);
    }
    std::size_t end = most > mark.size() ? most - mark.size() : 0;
    // Back to the start of a character: continuation bytes are 10xxxxxx.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return std::string(text.substr(0, end)) + std::string(mark);
}

} // namespace text
