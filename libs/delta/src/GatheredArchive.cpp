#include "delta/GatheredArchive.h"

#include "zipformat/EntryData.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/RecordWriting.h"
#include "zipformat/Records.h"

#include <algorithm>
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
    m_spans.push_back(spanLength);
    return std::nullopt;
}

void GatheredArchive::write(std::span<const unsigned char> bytes) {
    m_written += bytes.size();
    while (!bytes.empty() && m_span < m_spans.size()) {
        const std::uint64_t length = m_spans[m_span];
        std::size_t here =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), length - m_inSpan));
        if (m_inSpan < m_headerEnd) {
            // The local header, its name and its extra field are held back
            // until they are whole, then blanked and given on.
            here = static_cast<std::size_t>(std::min<std::uint64_t>(here, m_headerEnd - m_inSpan));
            m_header.insert(m_header.end(), bytes.begin(), bytes.begin() + here);
            m_inSpan += here;
            if (m_inSpan == zipformat::localHeaderSize) {
                m_headerEnd = std::min<std::uint64_t>(
                    length, zipformat::localHeaderSize +
                                zipformat::read16(&m_header[zipformat::localNameLengthAt]) +
                                zipformat::read16(&m_header[zipformat::localExtraLengthAt]));
            }
            if (m_inSpan == m_headerEnd) {
                blankExtraField();
                m_sink(m_header);
            }
        } else {
            m_sink(bytes.first(here));
            m_inSpan += here;
        }
        bytes = bytes.subspan(here);
        if (m_inSpan == length) {
            if (length < m_headerEnd) {
                m_sink(m_header); // a span too short for a header, as it came
            }
            ++m_span;
            m_inSpan = 0;
            m_headerEnd = zipformat::localHeaderSize;
            m_header.clear();
        }
    }
    if (!bytes.empty()) {
        m_sink(bytes);
    }
}

// Every field but the zip64 one, which readers need to read the header's
// sizes, becomes a field of an id no reader knows with zeros for data;
// bytes that make no field become zeros.
void GatheredArchive::blankExtraField() {
    constexpr std::uint16_t blankFieldId = 0xb1a7;
    if (m_header.size() < zipformat::localHeaderSize) {
        return;
    }
    const std::size_t start =
        zipformat::localHeaderSize + zipformat::read16(&m_header[zipformat::localNameLengthAt]);
    std::size_t at = std::min(start, m_header.size());
    while (at + 4 <= m_header.size()) {
        const std::uint16_t id = zipformat::read16(&m_header[at]);
        const std::size_t length = zipformat::read16(&m_header[at + 2]);
        if (length > m_header.size() - at - 4) {
            break;
        }
        if (id != zipformat::zip64ExtraFieldId) {
            zipformat::writeLittleEndian(&m_header[at], blankFieldId, 2);
            std::fill_n(m_header.begin() + static_cast<std::ptrdiff_t>(at + 4), length, 0);
        }
        at += 4 + length;
    }
    std::fill(m_header.begin() + static_cast<std::ptrdiff_t>(at), m_header.end(), 0);
}

std::optional<std::string> GatheredArchive::finish() {
    if (m_inSpan < m_headerEnd && !m_header.empty()) {
        m_sink(m_header); // a header cut short, as it came
        m_header.clear();
    }
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
