#include "LineFields.h"

namespace signature {

namespace {

constexpr std::string_view hexDigits = "0123456789abcdef";

} // namespace

std::optional<std::string_view> takeField(std::string_view& rest, std::string_view name) {
    if (!rest.starts_with(name) || rest.size() == name.size()) {
        return std::nullopt;
    }
    rest.remove_prefix(name.size());
    const std::size_t end = rest.find(' ');
    const std::string_view value = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return value;
}

std::string hexOf(const ArchiveDigest& digest) {
    std::string text;
    for (const std::uint8_t byte : digest) {
        text += hexDigits[byte >> 4];
        text += hexDigits[byte & 0x0f];
    }
    return text;
}

std::optional<ArchiveDigest> digestFromHex(std::string_view text) {
    if (text.size() != 2 * digestSize) {
        return std::nullopt;
    }
    ArchiveDigest digest{};
    for (std::size_t i = 0; i < digestSize; ++i) {
        const std::size_t high = hexDigits.find(text[2 * i]);
        const std::size_t low = hexDigits.find(text[2 * i + 1]);
        if (high == std::string_view::npos || low == std::string_view::npos) {
            return std::nullopt;
        }
        digest[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return digest;
}

} // namespace signature
