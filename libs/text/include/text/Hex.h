#pragma once

// Bytes as lower-case hex digits, two a byte, the one way digests are
// written in the program's signed lines and manifests.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace text {

std::string lowerHexOf(std::span<const std::uint8_t> bytes);

// Fills bytes from text, which must be exactly two lower-case hex digits a
// byte; false (bytes then undefined) for any other text.
bool fromLowerHex(std::string_view text, std::span<std::uint8_t> bytes);

} // namespace text
