#include "delta/LocalPackage.h"

#include "delta/ChunkMap.h"
#include "delta/DeltaError.h"
#include "delta/StoredEntry.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "fileio/Writing.h"
#include "zipformat/EndRecord.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace delta {

namespace {

std::vector<unsigned char> bytesAt(int fd, std::uint64_t offset, std::uint64_t length,
                                   const std::string& path) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(length));
    std::size_t got = 0;
    if (const int failure =
            fileio::readAt(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset), got);
        failure != 0 || got != bytes.size()) {
        throw DeltaError(
            "cannot read " + path + ": " +
            (failure != 0 ? fileio::systemReason(failure) : std::string("it ended early")));
    }
    return bytes;
}

// The bytes of the stored entry of this name, read from its span; nothing
// when the package has no such entry.
std::optional<std::string> storedBytes(int fd, const PackageDirectory& directory,
                                       std::string_view name, const std::string& what,
                                       const std::string& path) {
    const std::size_t index = directory.find(name);
    if (index == directory.entries.size()) {
        return std::nullopt;
    }
    std::string bytes;
    StoredEntryReader reader(
        directory.entries[index], mostManifestBytes, [&bytes](std::span<const unsigned char> data) {
            bytes.append(reinterpret_cast<const char*>(data.data()), data.size());
        });
    if (reader.problem()) {
        throw DeltaError("cannot read " + what + " of " + path + ": " + *reader.problem());
    }
    // The directory bounds the span by the entry's size.
    const ByteSpan span = directory.spans[index];
    reader.take(bytesAt(fd, span.offset, span.length, path));
    if (const auto why = reader.finish()) {
        throw DeltaError("cannot read " + what + " of " + path + ": " + *why);
    }
    return bytes;
}

} // namespace

LocalPackage readLocalPackage(const std::string& path) {
    const fileio::UniqueFd fd =
        fileio::openFile(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0);
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0) {
        throw DeltaError("cannot read " + path + ": " + fileio::systemReason(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw DeltaError("cannot read " + path + ": it is " + fileio::notAFileKind(status.st_mode) +
                         ", not a file");
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    // As the updater will: the end search's bytes first, then as many more as
    // the directory turns out to need.
    std::uint64_t tailLength = std::min<std::uint64_t>(size, zipformat::endSearchLength);
    DirectoryReading reading;
    std::vector<unsigned char> tail;
    for (;;) {
        tail = bytesAt(fd.get(), size - tailLength, tailLength, path);
        reading = readPackageDirectory(tail, size);
        if (reading.outcome != DirectoryReading::Outcome::needsMore ||
            reading.bytesNeeded <= tailLength || reading.bytesNeeded > size) {
            break;
        }
        tailLength = reading.bytesNeeded;
    }
    if (reading.outcome != DirectoryReading::Outcome::read) {
        throw DeltaError("cannot read the directory of " + path + ": " +
                         (reading.why.empty() ? "it ends early" : reading.why));
    }
    LocalPackage package;
    package.directory = std::move(reading.directory);
    package.directorySha256 = directoryDigest(tail, package.directory);
    package.tailBytes = size - package.directory.directoryOffset;
    package.manifestBytes =
        storedBytes(fd.get(), package.directory, manifestEntryName, "the manifest", path);
    package.chunkMapBytes =
        storedBytes(fd.get(), package.directory, chunkMapEntryName, "the chunk map", path);
    return package;
}

} // namespace delta
