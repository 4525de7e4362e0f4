#pragma once

// What a record's general-purpose flags and compression method say of an
// entry's data: one rule for every reader here that checks an entry's data
// with zlib alone (the zip library's repair, the manifest's reader) and for
// the writer of the archive of fetched entries, which takes no other.

#include <cstdint>

namespace zipformat {

inline constexpr std::uint16_t encryptedFlag = 0x0001;
// The sizes and CRC-32 follow the data, in a data descriptor.
inline constexpr std::uint16_t dataDescriptorFlag = 0x0008;
inline constexpr std::uint16_t utf8NameFlag = 0x0800;

inline constexpr std::uint16_t storedMethod = 0;
inline constexpr std::uint16_t deflatedMethod = 8;

constexpr bool isEncrypted(std::uint16_t flags) {
    return (flags & encryptedFlag) != 0;
}

// Whether zlib alone reads the data: not encrypted, and stored or deflated.
constexpr bool readsWithZlib(std::uint16_t flags, std::uint16_t method) {
    return !isEncrypted(flags) && (method == storedMethod || method == deflatedMethod);
}

} // namespace zipformat
