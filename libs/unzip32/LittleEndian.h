#pragma once

#include <cstddef>
#include <cstdint>

namespace unzip32 {

// Unsigned little-endian integer of the given width at bytes.
inline uint64_t readLittleEndian(const unsigned char* bytes, std::size_t width) {
    uint64_t value = 0;
    for (std::size_t i = width; i > 0; --i) {
        value = (value << 8) | bytes[i - 1];
    }
    return value;
}

inline uint16_t read16(const unsigned char* bytes) {
    return static_cast<uint16_t>(readLittleEndian(bytes, 2));
}
inline uint32_t read32(const unsigned char* bytes) {
    return static_cast<uint32_t>(readLittleEndian(bytes, 4));
}
inline uint64_t read64(const unsigned char* bytes) {
    return readLittleEndian(bytes, 8);
}

} // namespace unzip32
