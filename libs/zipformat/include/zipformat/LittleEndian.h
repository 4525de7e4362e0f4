#pragma once

// The numbers of a zip archive, little-endian and unsigned, read from and
// written to bytes the caller has checked are there.

#include <cstddef>
#include <cstdint>

namespace zipformat {

// The number of width bytes (at most 8) at bytes.
constexpr std::uint64_t readLittleEndian(const unsigned char* bytes, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i > 0; --i) {
        value = (value << 8) | bytes[i - 1];
    }
    return value;
}

constexpr std::uint16_t read16(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(readLittleEndian(bytes, 2));
}
constexpr std::uint32_t read32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(readLittleEndian(bytes, 4));
}
constexpr std::uint64_t read64(const unsigned char* bytes) {
    return readLittleEndian(bytes, 8);
}

// Writes the width low bytes of value (at most 8) to bytes.
constexpr void writeLittleEndian(unsigned char* bytes, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

} // namespace zipformat
