#include "ChunkMapCheck.h"

#include "delta/ChunkInflater.h"
#include "delta/ChunkMap.h"
#include "delta/ChunkPlan.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "publisher/PublishError.h"
#include "zipformat/EntryData.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <array>
#include <cerrno>
#include <sys/stat.h>
#include <vector>

namespace publisher {

namespace {

PublishError chunkMapRefused(const std::string& why) {
    return PublishError("the package's chunk map does not describe it: " + why);
}

void readExactly(int fd, unsigned char* data, std::size_t size, std::uint64_t offset,
                 const std::string& path) {
    std::size_t got = 0;
    if (const int error = fileio::readAt(fd, data, size, static_cast<off_t>(offset), got)) {
        throw PublishError("cannot read " + path + ": " + fileio::systemReason(error));
    }
    if (got != size) {
        throw chunkMapRefused(path + " ends inside an entry");
    }
}

// Where the entry's data begins in the archive open on fd.
std::uint64_t dataOffset(int fd, const delta::DirectoryEntry& entry, const std::string& path) {
    std::array<unsigned char, zipformat::localHeaderSize> header{};
    readExactly(fd, header.data(), header.size(), entry.localHeaderOffset, path);
    return entry.localHeaderOffset + header.size() +
           zipformat::read16(header.data() + zipformat::localNameLengthAt) +
           zipformat::read16(header.data() + zipformat::localExtraLengthAt);
}

// Every chunk of the entry inflated alone from its offset.
void checkEntry(int fd, const delta::DirectoryEntry& entry, const delta::ChunkedEntry& chunked,
                const std::string& path) {
    if (auto why = delta::chunksMismatch(entry, chunked)) {
        throw chunkMapRefused(*why);
    }
    delta::ChunkInflater inflater([](std::span<const unsigned char>) {});
    std::vector<unsigned char> bytes;
    std::uint64_t offset = dataOffset(fd, entry, path);
    for (std::size_t i = 0; i < chunked.chunks.size(); ++i) {
        const delta::MapChunk& chunk = chunked.chunks[i];
        bytes.resize(static_cast<std::size_t>(chunk.compressedSize));
        readExactly(fd, bytes.data(), bytes.size(), offset, path);
        inflater.start(chunk, i + 1 == chunked.chunks.size());
        inflater.take(bytes);
        if (auto why = inflater.finish()) {
            throw chunkMapRefused("chunk " + std::to_string(i) + " of " + entry.name + ": " + *why);
        }
        offset += chunk.compressedSize;
    }
}

} // namespace

void checkChunkMap(const std::string& archivePath, const delta::PackageDirectory& directory,
                   const std::string& checkFolder) {
    if (directory.find(delta::chunkMapEntryName) == directory.entries.size()) {
        return;
    }
    const std::string mapPath = checkFolder + "/" + std::string(delta::chunkMapEntryName);
    std::string text;
    std::string why;
    if (const int error = fileio::readWholeFile(mapPath, text)) {
        throw PublishError("cannot read " + mapPath + ": " + fileio::systemReason(error));
    }
    const auto map = delta::parseChunkMap(text, why);
    if (!map || !map->sizes) {
        throw chunkMapRefused(map ? "its chunker is not this tool's" : why);
    }
    struct stat status {};
    const fileio::UniqueFd fd = fileio::openRegularFile(archivePath, status);
    if (!fd) {
        throw PublishError("cannot read " + archivePath + ": " + fileio::systemReason(errno));
    }
    for (const delta::ChunkedEntry& chunked : map->entries) {
        const std::size_t index = directory.find(chunked.entryName);
        if (index == directory.entries.size()) {
            throw chunkMapRefused("it names " + chunked.entryName +
                                  ", which the package does not hold");
        }
        checkEntry(fd.get(), directory.entries[index], chunked, archivePath);
    }
}

} // namespace publisher
