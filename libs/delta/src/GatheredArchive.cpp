#include "delta/GatheredArchive.h"

#include "zipformat/EntryData.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/RecordWriting.h"
#include "zipformat/Records.h"

#include <utility>

namespace delta {

GatheredArchive::GatheredArchive(Sink sink) : m_sink(std::move(sink)) {}

std::optional<std::string> GatheredArchive::add(const DirectoryEntry& entry,
                                                std::uint64_t spanLength, std::uint16_t mode) {
    if (!zipformat::readsWithZlib(entry.flags, entry.method)) {
        return entry.name + " is stored in a way only the whole package is taken in";
    }
    if (!zipformat::fitsInRecord(entry.size) || !zipformat::fitsInRecord(entry.compressedSize) ||
        !zipformat::fitsInRecord(m_added) || m_entries == zipformat::mostEntriesInRecord ||
        entry.name.size() > zipformat::longestName) {
        return "the entries to fetch need a large archive's records";
    }
    zipformat::appendCentralRecord(
        m_directory,
        {zipformat::madeOnUnix | zipformat::versionForDeflate, zipformat::versionForDeflate,
         entry.flags, entry.method, entry.modifiedTime, entry.modifiedDate, entry.crc32,
         static_cast<std::uint32_t>(entry.compressedSize), static_cast<std::uint32_t>(entry.size),
         entry.name, entry.internalAttributes, zipformat::unixFileAttributes(mode),
         static_cast<std::uint32_t>(m_added)});
    ++m_entries;
    m_added += spanLength;
    return std::nullopt;
}

void GatheredArchive::write(std::span<const unsigned char> bytes) {
    m_written += bytes.size();
    m_sink(bytes);
}

std::optional<std::string> GatheredArchive::finish() {
    if (m_written != m_added) {
        return "the entries fetched came to " + std::to_string(m_written) + " bytes, not " +
               std::to_string(m_added);
    }
    if (!zipformat::fitsInRecord(m_added) || !zipformat::fitsInRecord(m_directory.size())) {
        return "the entries to fetch need a large archive's records";
    }
    // Readers take what stands just before the end record for a large
    // archive's locator when it begins as one: a name must not.
    if (m_directory.size() >= zipformat::zip64EndLocatorSize &&
        zipformat::read32(reinterpret_cast<const unsigned char*>(m_directory.data()) +
                          m_directory.size() - zipformat::zip64EndLocatorSize) ==
            zipformat::zip64EndLocatorSignature) {
        return "the names of the entries to fetch would read as a large archive's records";
    }
    zipformat::appendEndRecord(m_directory, static_cast<std::uint16_t>(m_entries),
                               static_cast<std::uint32_t>(m_directory.size()),
                               static_cast<std::uint32_t>(m_added));
    m_sink(
        std::span(reinterpret_cast<const unsigned char*>(m_directory.data()), m_directory.size()));
    return std::nullopt;
}

} // namespace delta
