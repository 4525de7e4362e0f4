#pragma once

// Bytes as lower-case hex digits, two a byte, the one way digests are
// written in the program's signed lines and manifests.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace text {

std::string lowerHexOf(std::span<const std::uint8_t> bytes);

// Fills bytes from text, which must be exactly two lower-case hex digits a
// byte; false (bytes then undefined) for any other text.
bool fromLowerHex(std::string_view text, std::span<std::uint8_t> bytes);

// N bytes from exactly 2 * N lower-case hex digits, or nothing.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> bytesFromLowerHex(std::string_view text) {
    std::array<std::uint8_t, N> bytes{};
    if (!fromLowerHex(text, bytes)) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace text
