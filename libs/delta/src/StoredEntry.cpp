#include "delta/StoredEntry.h"

#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <algorithm>
#include <zlib.h>

namespace delta {

namespace {

constexpr std::size_t localFlagsAt = 6;
constexpr std::size_t localMethodAt = 8;
constexpr std::uint16_t encryptedFlag = 0x0001;

} // namespace

std::optional<std::string_view> storedEntryBytes(std::span<const unsigned char> spanBytes,
                                                 const DirectoryEntry& entry, std::string& why) {
    const std::string_view bytes(reinterpret_cast<const char*>(spanBytes.data()), spanBytes.size());
    if (bytes.size() < zipformat::localHeaderSize ||
        zipformat::read32(spanBytes.data()) != zipformat::localHeaderSignature) {
        why = "it has no local header";
        return std::nullopt;
    }
    const std::size_t nameLength = zipformat::read16(&spanBytes[zipformat::localNameLengthAt]);
    const std::size_t extraLength = zipformat::read16(&spanBytes[zipformat::localExtraLengthAt]);
    const std::size_t dataOffset = zipformat::localHeaderSize + nameLength + extraLength;
    if (dataOffset > bytes.size() ||
        bytes.substr(zipformat::localHeaderSize, nameLength) != entry.name) {
        why = "its local header names another entry";
        return std::nullopt;
    }
    if (entry.method != 0 || zipformat::read16(&spanBytes[localMethodAt]) != 0 ||
        ((entry.flags | zipformat::read16(&spanBytes[localFlagsAt])) & encryptedFlag) != 0 ||
        entry.compressedSize != entry.size) {
        why = "it is not stored as it is (it is compressed or encrypted)";
        return std::nullopt;
    }
    if (entry.size > bytes.size() - dataOffset) {
        why = "its data runs past its span";
        return std::nullopt;
    }
    const std::string_view data = bytes.substr(dataOffset, static_cast<std::size_t>(entry.size));
    uLong crc = crc32(0L, Z_NULL, 0);
    for (std::size_t at = 0; at < data.size();) {
        const auto length = static_cast<uInt>(std::min<std::size_t>(data.size() - at, 1u << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data() + at), length);
        at += length;
    }
    if (crc != entry.crc32) {
        why = "its data does not match its CRC-32";
        return std::nullopt;
    }
    return data;
}

} // namespace delta
