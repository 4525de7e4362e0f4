#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace signature {

// Base64 with padding and without line ends.
std::string encodeBase64(const std::uint8_t* data, std::size_t size);

// The bytes of a base64 text, or nothing unless the text is exactly what
// encodeBase64 gives for them: one text per value, so that a key or a
// signature cannot be written in two ways.
std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text);

} // namespace signature
