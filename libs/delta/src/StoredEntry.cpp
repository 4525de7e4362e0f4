#include "delta/StoredEntry.h"

#include "zipformat/EntryData.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <algorithm>
#include <utility>
#include <zlib.h>

namespace delta {

namespace {

const std::string notStored = "it is not stored as it is (it is compressed or encrypted)";

bool storedAsItIs(std::uint16_t flags, std::uint16_t method) {
    return !zipformat::isEncrypted(flags) && method == zipformat::storedMethod;
}

unsigned long crcOf(unsigned long crc, std::span<const unsigned char> bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const auto length = static_cast<uInt>(std::min<std::size_t>(bytes.size() - at, 1u << 30));
        crc = crc32(crc, bytes.data() + at, length);
        at += length;
    }
    return crc;
}

} // namespace

StoredEntryReader::StoredEntryReader(const DirectoryEntry& entry, std::uint64_t mostBytes,
                                     Data data)
    : m_entry(entry), m_data(std::move(data)), m_crc(crc32(0L, Z_NULL, 0)) {
    if (!storedAsItIs(entry.flags, entry.method) || entry.compressedSize != entry.size) {
        m_problem = notStored;
    } else if (entry.size > mostBytes) {
        m_problem = "it has " + std::to_string(entry.size) + " bytes, more than the " +
                    std::to_string(mostBytes) + " it may have";
    }
}

void StoredEntryReader::take(std::span<const unsigned char> bytes) {
    if (m_dataOffset == 0) {
        takeHeader(bytes);
    }
    if (m_dataOffset != 0) {
        takeData(bytes);
    }
}

std::size_t StoredEntryReader::headerLength() const {
    if (m_header.size() < zipformat::localHeaderSize) {
        return zipformat::localHeaderSize;
    }
    return zipformat::localHeaderSize + field16(zipformat::localNameLengthAt) +
           field16(zipformat::localExtraLengthAt);
}

std::uint16_t StoredEntryReader::field16(std::size_t at) const {
    return zipformat::read16(reinterpret_cast<const unsigned char*>(m_header.data()) + at);
}

void StoredEntryReader::takeHeader(std::span<const unsigned char>& bytes) {
    while (!m_problem && m_dataOffset == 0 && !bytes.empty()) {
        const std::size_t taken = std::min(bytes.size(), headerLength() - m_header.size());
        m_header.append(reinterpret_cast<const char*>(bytes.data()), taken);
        bytes = bytes.subspan(taken);
        if (m_header.size() == zipformat::localHeaderSize &&
            zipformat::read32(reinterpret_cast<const unsigned char*>(m_header.data())) !=
                zipformat::localHeaderSignature) {
            m_problem = "it has no local header";
        } else if (m_header.size() == headerLength()) {
            checkHeader();
        }
    }
}

void StoredEntryReader::checkHeader() {
    const std::string_view name = std::string_view(m_header).substr(
        zipformat::localHeaderSize, field16(zipformat::localNameLengthAt));
    if (name != m_entry.name) {
        m_problem = "its local header names another entry";
    } else if (!storedAsItIs(field16(zipformat::localFlagsAt), field16(zipformat::localMethodAt))) {
        m_problem = notStored;
    } else {
        m_dataOffset = m_header.size();
    }
}

void StoredEntryReader::takeData(std::span<const unsigned char>& bytes) {
    if (m_problem) {
        return;
    }
    const auto taken =
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), m_entry.size - m_dataTaken));
    const std::span<const unsigned char> data = bytes.first(taken);
    m_crc = crcOf(m_crc, data);
    m_dataTaken += taken;
    if (!data.empty()) {
        m_data(data);
    }
    bytes = bytes.subspan(taken);
}

std::optional<std::string> StoredEntryReader::finish() {
    if (m_problem) {
        return m_problem;
    }
    if (m_dataOffset == 0) {
        return m_header.size() < zipformat::localHeaderSize ? "it has no local header"
                                                            : "its local header runs past its span";
    }
    if (m_dataTaken != m_entry.size) {
        return "its data runs past its span";
    }
    if (m_crc != m_entry.crc32) {
        return "its data does not match its CRC-32";
    }
    return std::nullopt;
}

} // namespace delta
