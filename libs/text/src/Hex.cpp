#include "text/Hex.h"

namespace text {

namespace {

constexpr std::string_view hexDigits = "0123456789abcdef";

} // namespace

std::string lowerHexOf(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(2 * bytes.size());
    for (const std::uint8_t byte : bytes) {
        text += hexDigits[byte >> 4];
        text += hexDigits[byte & 0x0f];
    }
    return text;
}

bool fromLowerHex(std::string_view text, std::span<std::uint8_t> bytes) {
    if (text.size() != 2 * bytes.size()) {
        return false;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::size_t high = hexDigits.find(text[2 * i]);
        const std::size_t low = hexDigits.find(text[2 * i + 1]);
        if (high == std::string_view::npos || low == std::string_view::npos) {
            return false;
        }
        bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

} // namespace text
