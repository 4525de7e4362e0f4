#include "delta/PackageDirectory.h"

#include "zipformat/Directory.h"
#include "zipformat/EndRecord.h"
#include "zipformat/EntryTime.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <unordered_set>

namespace delta {

namespace {

using zipformat::read16;
using zipformat::read32;

DirectoryReading refused(std::string why) {
    DirectoryReading reading;
    reading.outcome = DirectoryReading::Outcome::refused;
    reading.why = std::move(why);
    return reading;
}

DirectoryReading needsMore(std::uint64_t bytesNeeded) {
    DirectoryReading reading;
    reading.outcome = DirectoryReading::Outcome::needsMore;
    reading.bytesNeeded = bytesNeeded;
    return reading;
}

// The tail, placed in the package: the bytes from tailStart on.
class Tail {
public:
    Tail(std::span<const unsigned char> bytes, std::uint64_t packageSize)
        : m_bytes(bytes), m_start(packageSize - bytes.size()) {}

    std::uint64_t start() const { return m_start; }
    // Whether the package's bytes [offset, offset + length) lie in the tail.
    bool holds(std::uint64_t offset, std::uint64_t length) const {
        return offset >= m_start && offset - m_start <= m_bytes.size() &&
               length <= m_bytes.size() - (offset - m_start);
    }
    const unsigned char* at(std::uint64_t offset) const { return &m_bytes[offset - m_start]; }

private:
    std::span<const unsigned char> m_bytes;
    std::uint64_t m_start;
};

// Reads the records of the directory, which lies wholly in the tail.
std::optional<std::string> readEntries(const Tail& tail, const zipformat::DirectoryLocation& where,
                                       std::vector<DirectoryEntry>& entries) {
    // Each record takes at least its fixed part: a count beyond that is a lie.
    if (where.entryCount > where.size / zipformat::centralHeaderSize) {
        return "the entry count does not fit the central directory";
    }
    entries.reserve(static_cast<std::size_t>(where.entryCount));
    const std::uint64_t end = where.offset + where.size;
    std::uint64_t at = where.offset;
    for (std::uint64_t i = 0; i < where.entryCount; ++i) {
        if (end - at < zipformat::centralHeaderSize) {
            return "a central record runs past the directory";
        }
        const unsigned char* record = tail.at(at);
        if (read32(record) != zipformat::centralHeaderSignature) {
            return "a central record is broken";
        }
        const std::size_t nameLength = read16(&record[zipformat::centralNameLengthAt]);
        const std::size_t extraLength = read16(&record[zipformat::centralExtraLengthAt]);
        const std::size_t commentLength = read16(&record[zipformat::centralCommentLengthAt]);
        const std::uint64_t recordLength =
            zipformat::centralHeaderSize + nameLength + extraLength + commentLength;
        if (end - at < recordLength) {
            return "a central record runs past the directory";
        }
        const unsigned char* name = record + zipformat::centralHeaderSize;
        zipformat::Zip64Values values{read32(&record[zipformat::centralSizeAt]),
                                      read32(&record[zipformat::centralCompressedSizeAt]),
                                      read32(&record[zipformat::centralLocalOffsetAt])};
        std::optional<std::int32_t> extendedModified;
        zipformat::forEachExtraField(
            std::span(name + nameLength, extraLength),
            [&](std::uint16_t id, std::span<const unsigned char> data) {
                if (id == zipformat::zip64ExtraFieldId) {
                    zipformat::applyZip64Field(data, values);
                } else if (id == zipformat::extendedTimestampId && !extendedModified) {
                    extendedModified = zipformat::extendedModification(data);
                }
            });
        entries.push_back(DirectoryEntry{
            std::string(name, name + nameLength), read16(&record[zipformat::centralMethodAt]),
            read16(&record[zipformat::centralFlagsAt]), read32(&record[zipformat::centralCrcAt]),
            values.compressedSize, values.size, values.localHeaderOffset, at, recordLength,
            read16(&record[zipformat::centralTimeAt]), read16(&record[zipformat::centralDateAt]),
            read16(&record[zipformat::centralInternalAttributesAt]),
            read32(&record[zipformat::centralExternalAttributesAt]), extendedModified});
        at += recordLength;
    }
    if (at != end) {
        return "the central directory holds more than its records";
    }
    return std::nullopt;
}

// Each entry's span, index for index; the reason when spans overlap.
std::optional<std::string> spansOf(PackageDirectory& directory) {
    const std::vector<DirectoryEntry>& entries = directory.entries;
    std::vector<std::size_t> byOffset(entries.size());
    std::iota(byOffset.begin(), byOffset.end(), std::size_t{0});
    std::sort(byOffset.begin(), byOffset.end(), [&](std::size_t a, std::size_t b) {
        return entries[a].localHeaderOffset < entries[b].localHeaderOffset;
    });
    directory.spans.assign(entries.size(), ByteSpan{});
    for (std::size_t i = 0; i < byOffset.size(); ++i) {
        const DirectoryEntry& entry = entries[byOffset[i]];
        const std::uint64_t next = i + 1 < byOffset.size()
                                       ? entries[byOffset[i + 1]].localHeaderOffset
                                       : directory.directoryOffset;
        if (entry.localHeaderOffset >= directory.directoryOffset) {
            return "an entry's local header lies at or past the central directory";
        }
        const std::uint64_t length = next - entry.localHeaderOffset;
        // The local header carries the name again before the data.
        const std::uint64_t least = zipformat::localHeaderSize + entry.name.size();
        if (length < least || length - least < entry.compressedSize) {
            return "the entries overlap";
        }
        if (length > longestSpan(entry)) {
            return "bytes lie between " + entry.name + " and what follows it that no entry needs";
        }
        directory.spans[byOffset[i]] = {entry.localHeaderOffset, length};
    }
    return std::nullopt;
}

std::optional<std::string> twoOfOneName(const std::vector<DirectoryEntry>& entries) {
    std::unordered_set<std::string_view> names;
    for (const DirectoryEntry& entry : entries) {
        if (!names.insert(entry.name).second) {
            return "two entries are named \"" + entry.name + "\"";
        }
    }
    return std::nullopt;
}

} // namespace

std::uint64_t longestSpan(const DirectoryEntry& entry) {
    const std::uint64_t around = zipformat::localHeaderSize + entry.name.size() +
                                 zipformat::longestExtraField + zipformat::longestDataDescriptor;
    return entry.compressedSize > UINT64_MAX - around ? UINT64_MAX : around + entry.compressedSize;
}

std::size_t PackageDirectory::find(std::string_view name) const {
    const auto found =
        std::find_if(entries.begin(), entries.end(),
                     [&](const DirectoryEntry& entry) { return entry.name == name; });
    return static_cast<std::size_t>(found - entries.begin());
}

DirectoryReading readPackageDirectory(std::span<const unsigned char> tailBytes,
                                      std::uint64_t packageSize) {
    if (tailBytes.size() > packageSize) {
        return refused("the tail is longer than the package");
    }
    const std::uint64_t searched = std::min<std::uint64_t>(packageSize, zipformat::endSearchLength);
    const Tail tail(tailBytes, packageSize);
    const zipformat::EndRecordPlace place = zipformat::findEndRecord(tailBytes);
    if (place.fit != zipformat::EndRecordPlace::Fit::exact) {
        // Its comment may begin before the tail does.
        if (tailBytes.size() < searched) {
            return needsMore(searched);
        }
        return refused(place.fit == zipformat::EndRecordPlace::Fit::none
                           ? "no end of central directory record"
                           : "bytes follow the end record's comment");
    }
    const std::uint64_t endOffset = tail.start() + place.offset;
    zipformat::DirectoryLocation where = zipformat::locationInEndRecord(tail.at(endOffset));
    std::uint64_t directoryLimit = endOffset;
    if (endOffset >= zipformat::zip64EndLocatorSize) {
        const std::uint64_t locatorOffset = endOffset - zipformat::zip64EndLocatorSize;
        if (!tail.holds(locatorOffset, zipformat::zip64EndLocatorSize)) {
            return needsMore(packageSize - locatorOffset);
        }
        if (const auto zip64End = zipformat::zip64EndRecordOffset(tail.at(locatorOffset))) {
            if (*zip64End > locatorOffset ||
                locatorOffset - *zip64End < zipformat::zip64EndRecordSize) {
                return refused("the zip64 end record lies outside the package");
            }
            if (!tail.holds(*zip64End, zipformat::zip64EndRecordSize)) {
                return needsMore(packageSize - *zip64End);
            }
            const auto zip64Where = zipformat::locationInZip64EndRecord(tail.at(*zip64End));
            if (!zip64Where) {
                return refused("the zip64 end of central directory record is missing");
            }
            where = *zip64Where;
            directoryLimit = *zip64End;
        }
    }
    if (where.offset > directoryLimit || where.size > directoryLimit - where.offset) {
        return refused("the central directory lies outside the package");
    }
    if (!tail.holds(where.offset, where.size)) {
        return needsMore(packageSize - where.offset);
    }
    DirectoryReading reading;
    reading.outcome = DirectoryReading::Outcome::read;
    PackageDirectory& directory = reading.directory;
    directory.directoryOffset = where.offset;
    directory.directorySize = where.size;
    directory.packageSize = packageSize;
    if (auto why = readEntries(tail, where, directory.entries)) {
        return refused(std::move(*why));
    }
    if (auto why = twoOfOneName(directory.entries)) {
        return refused(std::move(*why));
    }
    if (auto why = spansOf(directory)) {
        return refused(std::move(*why));
    }
    return reading;
}

Sha256 directoryDigest(std::span<const unsigned char> tail, const PackageDirectory& directory) {
    const std::uint64_t tailStart = directory.packageSize - tail.size();
    return sha256Of(std::string_view(
        reinterpret_cast<const char*>(tail.data() + (directory.directoryOffset - tailStart)),
        static_cast<std::size_t>(directory.directorySize)));
}

std::int64_t modifiedSeconds(const DirectoryEntry& entry) {
    return entry.extendedModified
               ? *entry.extendedModified
               : zipformat::dosTimeToUnix(entry.modifiedTime, entry.modifiedDate);
}

} // namespace delta
