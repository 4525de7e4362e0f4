#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace delta {

// Decimal digits without a leading zero (but "0"), below 2^63: a size as
// the manifest and the chunk map write it, and no other text.
inline std::optional<std::uint64_t> decimalSize(std::string_view text) {
    std::uint64_t value = 0;
    if (text.empty() || text.size() > 19 || (text.size() > 1 && text.front() == '0') ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (value >= std::uint64_t{1} << 63) {
        return std::nullopt;
    }
    return value;
}

} // namespace delta
