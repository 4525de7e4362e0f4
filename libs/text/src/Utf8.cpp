#include "text/Utf8.h"

namespace text {

namespace {

constexpr char32_t strayByteBase = 0xDC00;

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the sequence a lead byte opens, 0 for a byte that opens none.
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

bool isStrayByte(char32_t codePoint) {
    return codePoint >= strayByteBase + 0x80 && codePoint <= strayByteBase + 0xFF;
}

} // namespace

std::u32string decodeUtf8(std::string_view text) {
    std::u32string result;
    result.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = sequenceLength(lead);
        bool valid = length != 0 && i + length <= text.size();
        char32_t value = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = isContinuation(next);
            value = (value << 6) | (next & 0x3F);
        }
        const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
        if (!valid || overlong || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            result.push_back(strayByteBase + lead);
            ++i;
            continue;
        }
        result.push_back(value);
        i += length;
    }
    return result;
}

std::string encodeUtf8(std::u32string_view codePoints) {
    std::string result;
    result.reserve(codePoints.size());
    for (const char32_t c : codePoints) {
        if (c < 0x80) {
            result.push_back(static_cast<char>(c));
        } else if (isStrayByte(c)) {
            result.push_back(static_cast<char>(c - strayByteBase));
        } else if (c < 0x800) {
            result.push_back(static_cast<char>(0xC0 | (c >> 6)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            result.push_back(static_cast<char>(0xE0 | (c >> 12)));
            result.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            result.push_back(static_cast<char>(0xF0 | (c >> 18)));
            result.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return result;
}

bool isUtf8(std::string_view text) {
    for (const char32_t c : decodeUtf8(text)) {
        if (isStrayByte(c)) {
            return false;
        }
    }
    return true;
}

std::string withStrayBytesShown(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::u32string shown;
    for (const char32_t c : decodeUtf8(text)) {
        if (isStrayByte(c) || c < 0x20) {
            const auto byte = static_cast<unsigned>(isStrayByte(c) ? c - strayByteBase : c);
            shown += U"\\x";
            shown.push_back(static_cast<char32_t>(hex[byte >> 4]));
            shown.push_back(static_cast<char32_t>(hex[byte & 0xF]));
        } else {
            shown.push_back(c);
        }
    }
    return encodeUtf8(shown);
}

std::string_view withoutByteOrderMark(std::string_view text) {
    constexpr std::string_view mark = "\xEF\xBB\xBF";
    return text.starts_with(mark) ? text.substr(mark.size()) : text;
}

} // namespace text
