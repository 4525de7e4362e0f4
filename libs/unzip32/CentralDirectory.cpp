#include "CentralDirectory.h"

#include "JobError.h"
#include "unzip32.h"
#include "zipformat/Directory.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <span>
#include <string>
#include <unistd.h>

namespace unzip32 {

namespace {

using zipformat::read16;
using zipformat::read32;
using zipformat::read64;

constexpr uint16_t aesExtraId = 0x9901;

[[noreturn]] void damaged(const std::string& problem) {
    throw JobStop(UZP_DAMAGED_ARCHIVE, "the archive is damaged: " + problem);
}

// Sequential reads through a small window, so that a directory of any size
// is read in constant memory.
class SequentialReader {
public:
    SequentialReader(int fd, uint64_t offset, uint64_t end)
        : m_fd(fd), m_offset(offset), m_end(end) {}

    void read(unsigned char* target, std::size_t length) {
        while (length > 0) {
            if (m_position == m_filled) {
                refill();
            }
            const std::size_t take = std::min(length, m_filled - m_position);
            std::copy_n(m_window.data() + m_position, take, target);
            m_position += take;
            target += take;
            length -= take;
        }
    }

    void skip(uint64_t length) {
        const uint64_t buffered = m_filled - m_position;
        if (length <= buffered) {
            m_position += static_cast<std::size_t>(length);
            return;
        }
        m_offset += length - buffered;
        m_position = m_filled = 0;
    }

private:
    void refill() {
        if (m_offset >= m_end) {
            damaged("the central directory ends early");
        }
        const auto length =
            static_cast<std::size_t>(std::min<uint64_t>(m_window.size(), m_end - m_offset));
        if (!readExactlyAt(m_fd, m_offset, m_window.data(), length)) {
            damaged("the central directory cannot be read");
        }
        m_offset += length;
        m_position = 0;
        m_filled = length;
    }

    int m_fd;
    uint64_t m_offset;
    uint64_t m_end;
    std::array<unsigned char, 65536> m_window{};
    std::size_t m_position = 0;
    std::size_t m_filled = 0;
};

using zipformat::DirectoryLocation;

// Takes from the extra fields of a central record the sizes and offset it
// marks as "in the zip64 field", and the AES format version.
void applyExtraFields(const std::vector<unsigned char>& extra, zipformat::Zip64Values& values,
                      DirectoryEntry& entry) {
    zipformat::forEachExtraField(extra, [&](uint16_t id, std::span<const unsigned char> data) {
        if (id == zipformat::zip64ExtraFieldId) {
            zipformat::applyZip64Field(data, values);
        } else if (id == aesExtraId && data.size() >= 2) {
            entry.aesVersion = read16(data.data());
        }
    });
}

} // namespace

CentralDirectory readCentralDirectory(int fd, uint64_t fileSize, const ArchiveEnd& end) {
    if (!end.problem.empty()) {
        damaged(end.problem);
    }
    const DirectoryLocation& location = end.location;
    if (location.offset > fileSize || location.size > fileSize - location.offset) {
        damaged("the central directory lies outside the file");
    }
    // Each record takes at least its fixed part: a count beyond that is a lie.
    if (location.entryCount > location.size / zipformat::centralHeaderSize) {
        damaged("the entry count does not fit the central directory");
    }
    CentralDirectory directory;
    directory.offset = location.offset;
    directory.entries.reserve(static_cast<std::size_t>(location.entryCount));
    SequentialReader reader(fd, location.offset, location.offset + location.size);
    std::vector<unsigned char> extra;
    for (uint64_t i = 0; i < location.entryCount; ++i) {
        unsigned char record[zipformat::centralHeaderSize];
        reader.read(record, sizeof record);
        if (read32(record) != zipformat::centralHeaderSignature) {
            damaged("a central directory record is broken");
        }
        DirectoryEntry entry;
        zipformat::Zip64Values values{read32(&record[zipformat::centralSizeAt]),
                                      read32(&record[zipformat::centralCompressedSizeAt]),
                                      read32(&record[zipformat::centralLocalOffsetAt])};
        entry.crc = read32(&record[zipformat::centralCrcAt]);
        entry.internalAttributes = read16(&record[zipformat::centralInternalAttributesAt]);
        reader.skip(read16(&record[zipformat::centralNameLengthAt]));
        extra.resize(read16(&record[zipformat::centralExtraLengthAt]));
        reader.read(extra.data(), extra.size());
        reader.skip(read16(&record[zipformat::centralCommentLengthAt]));
        applyExtraFields(extra, values, entry);
        entry.size = values.size;
        entry.compressedSize = values.compressedSize;
        entry.localHeaderOffset = values.localHeaderOffset;
        directory.entries.push_back(entry);
    }
    std::vector<uint64_t> entryStarts;
    entryStarts.reserve(directory.entries.size());
    for (const DirectoryEntry& entry : directory.entries) {
        entryStarts.push_back(entry.localHeaderOffset);
    }
    refuseRivalEndRecords(fd, end, std::move(entryStarts));
    return directory;
}

void locateData(int fd, CentralDirectory& directory) {
    for (DirectoryEntry& entry : directory.entries) {
        unsigned char header[zipformat::localHeaderSize];
        if (!readExactlyAt(fd, entry.localHeaderOffset, header, sizeof header) ||
            read32(header) != zipformat::localHeaderSignature) {
            damaged("a local header is missing");
        }
        entry.dataOffset = entry.localHeaderOffset + sizeof header +
                           read16(&header[zipformat::localNameLengthAt]) +
                           read16(&header[zipformat::localExtraLengthAt]);
    }
}

void refuseOverlaps(const CentralDirectory& directory) {
    std::vector<const DirectoryEntry*> byOffset;
    byOffset.reserve(directory.entries.size());
    for (const DirectoryEntry& entry : directory.entries) {
        byOffset.push_back(&entry);
    }
    std::sort(byOffset.begin(), byOffset.end(), [](const auto* a, const auto* b) {
        return a->localHeaderOffset < b->localHeaderOffset;
    });
    for (std::size_t i = 0; i < byOffset.size(); ++i) {
        const DirectoryEntry& entry = *byOffset[i];
        const uint64_t limit =
            i + 1 < byOffset.size() ? byOffset[i + 1]->localHeaderOffset : directory.offset;
        if (entry.dataOffset > limit || entry.compressedSize > limit - entry.dataOffset) {
            throw JobStop(UZP_OVERLAPPING_ENTRIES,
                          "refused: entries of the archive overlap (a known bomb construction)");
        }
    }
}

} // namespace unzip32
