#include "ArchiveEnd.h"

#include "JobError.h"
#include "fileio/Reading.h"
#include "unzip32.h"
#include "zipformat/EndRecord.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/OtherEndRecords.h"
#include "zipformat/Records.h"

#include <algorithm>
#include <optional>
#include <span>

namespace unzip32 {

namespace {

using zipformat::DirectoryLocation;

// libzip's reach: the end search's, and the zip64 locator before it.
constexpr std::size_t searchedLength = zipformat::endSearchLength + zipformat::zip64EndLocatorSize;

// Where the directory lies as the end record at endOffset says (or the zip64
// one it points to); nothing when it points to a zip64 record that is not
// there.
std::optional<DirectoryLocation> locationOf(int fd, uint64_t endOffset, const unsigned char* end) {
    const DirectoryLocation location = zipformat::locationInEndRecord(end);
    unsigned char locator[zipformat::zip64EndLocatorSize];
    if (endOffset < sizeof locator ||
        !readExactlyAt(fd, endOffset - sizeof locator, locator, sizeof locator)) {
        return location;
    }
    const std::optional<uint64_t> zip64EndOffset = zipformat::zip64EndRecordOffset(locator);
    if (!zip64EndOffset) {
        return location;
    }
    unsigned char zip64End[zipformat::zip64EndRecordSize];
    if (!readExactlyAt(fd, *zip64EndOffset, zip64End, sizeof zip64End)) {
        return std::nullopt;
    }
    return zipformat::locationInZip64EndRecord(zip64End);
}

} // namespace

bool readExactlyAt(int fd, uint64_t offset, void* buffer, std::size_t length) {
    std::size_t got = 0;
    return fileio::readAt(fd, buffer, length, static_cast<off_t>(offset), got) == 0 &&
           got == length;
}

// Bytes may trail the archive; see zipformat::findEndRecord.
ArchiveEnd readArchiveEnd(int fd, uint64_t fileSize) {
    ArchiveEnd end;
    end.tail.resize(static_cast<std::size_t>(std::min<uint64_t>(fileSize, searchedLength)));
    end.tailStart = fileSize - end.tail.size();
    if (!readExactlyAt(fd, end.tailStart, end.tail.data(), end.tail.size())) {
        end.problem = "no end of central directory record";
        return end;
    }
    // Every reader here takes the record within the end search's bytes.
    const std::size_t searchStart =
        end.tail.size() - std::min(end.tail.size(), zipformat::endSearchLength);
    const zipformat::EndRecordPlace place =
        zipformat::findEndRecord(std::span(end.tail).subspan(searchStart));
    if (place.fit == zipformat::EndRecordPlace::Fit::none) {
        end.problem = "no end of central directory record";
        return end;
    }
    const std::size_t at = searchStart + place.offset;
    end.endOffset = end.tailStart + at;
    const std::optional<DirectoryLocation> location = locationOf(fd, end.endOffset, &end.tail[at]);
    if (!location) {
        end.problem = "the zip64 end of central directory record is missing";
        return end;
    }
    end.location = *location;
    return end;
}

std::vector<uint64_t> signaturesBeforeDirectory(const ArchiveEnd& end) {
    std::vector<uint64_t> offsets;
    if (!end.problem.empty()) {
        return offsets;
    }
    const uint64_t limit = std::min(end.location.offset, end.endOffset);
    for (std::size_t at = 0; at + 4 <= end.tail.size() && end.tailStart + at < limit; ++at) {
        if (zipformat::read32(&end.tail[at]) == zipformat::endRecordSignature) {
            offsets.push_back(end.tailStart + at);
        }
    }
    return offsets;
}

void refuseRivalEndRecords(int fd, const ArchiveEnd& end, std::vector<uint64_t> entryStarts) {
    const std::vector<std::size_t> candidates = zipformat::endRecordCandidates(end.tail);
    if (candidates.size() < 2) {
        return;
    }
    const zipformat::TakenDirectory taken(end.location, std::move(entryStarts));
    const auto centralRecordAt = [fd](uint64_t offset) {
        unsigned char signature[4];
        return readExactlyAt(fd, offset, signature, sizeof signature) &&
               zipformat::read32(signature) == zipformat::centralHeaderSignature;
    };
    for (const std::size_t other : candidates) {
        const uint64_t otherOffset = end.tailStart + other;
        if (otherOffset == end.endOffset) {
            continue;
        }
        const std::optional<DirectoryLocation> elsewhere =
            locationOf(fd, otherOffset, &end.tail[other]);
        if (elsewhere && taken.rivalledBy(*elsewhere, otherOffset, centralRecordAt)) {
            throw JobStop(UZP_DAMAGED_ARCHIVE, "the archive is damaged: it has more than one end "
                                               "record, and readers would see different archives");
        }
    }
}

} // namespace unzip32
