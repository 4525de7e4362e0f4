#include "NameEscapes.h"

namespace delta {

namespace {

constexpr std::string_view upperHexDigits = "0123456789ABCDEF";

bool needsEscape(unsigned char byte) {
    return byte == '%' || byte == ' ' || byte < 0x20 || byte == 0x7f;
}

} // namespace

std::string escapedName(std::string_view name) {
    std::string text;
    text.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (needsEscape(byte)) {
            text += '%';
            text += upperHexDigits[byte >> 4];
            text += upperHexDigits[byte & 0x0f];
        } else {
            text += c;
        }
    }
    return text;
}

std::optional<std::string> unescapedName(std::string_view text) {
    std::string name;
    name.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte != '%') {
            if (needsEscape(byte)) {
                return std::nullopt;
            }
            name += text[i];
            continue;
        }
        if (text.size() - i < 3) {
            return std::nullopt;
        }
        const std::size_t high = upperHexDigits.find(text[i + 1]);
        const std::size_t low = upperHexDigits.find(text[i + 2]);
        if (high == std::string_view::npos || low == std::string_view::npos ||
            !needsEscape(static_cast<unsigned char>(high << 4 | low))) {
            return std::nullopt;
        }
        name += static_cast<char>(high << 4 | low);
        i += 2;
    }
    return name;
}

} // namespace delta
