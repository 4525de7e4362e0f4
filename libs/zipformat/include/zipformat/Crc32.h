#pragma once

// The CRC-32 every entry's data is checked by (the polynomial zlib's crc32
// uses), at the speed of reading: where the processor multiplies without
// carries, sixteen bytes are folded at a time, otherwise zlib's tables do it.

#include <cstdint>
#include <span>

namespace zipformat {

// The CRC-32 of the bytes that came before (0 for none) continued over data;
// the same value as zlib's crc32(crc, data, size).
std::uint32_t crc32Update(std::uint32_t crc, std::span<const unsigned char> data);

} // namespace zipformat
