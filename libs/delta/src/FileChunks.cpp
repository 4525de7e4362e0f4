#include "delta/FileChunks.h"

#include "delta/DeltaError.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"

#include <cstring>
#include <vector>

namespace delta {

namespace {

constexpr std::size_t blockSize = 1 << 20;

} // namespace

std::size_t Sha256Hash::operator()(const Sha256& digest) const {
    std::size_t value = 0;
    std::memcpy(&value, digest.data(), sizeof value);
    return value;
}

void cutOpenFile(int fd, const std::string& path, const zipformat::ChunkSizes& sizes,
                 const ChunkFound& found, Sha256Digest* whole) {
    zipformat::ContentChunker chunker(sizes);
    Sha256Digest digest(path);
    std::uint64_t start = 0;
    const auto endChunk = [&](std::uint64_t end) {
        found(start, end - start, digest.finish());
        digest = Sha256Digest(path);
        start = end;
    };
    std::vector<unsigned char> block(blockSize);
    for (std::uint64_t offset = 0;;) {
        std::size_t got = 0;
        if (const int failure =
                fileio::readAt(fd, block.data(), blockSize, static_cast<off_t>(offset), got);
            failure != 0) {
            throw DeltaError("cannot read " + path + ": " + fileio::systemReason(failure));
        }
        if (whole != nullptr) {
            whole->add(block.data(), got);
        }
        std::span<const unsigned char> rest(block.data(), got);
        while (const auto cut = chunker.cut(rest)) {
            digest.add(rest.data(), *cut);
            endChunk(offset + static_cast<std::uint64_t>(rest.data() + *cut - block.data()));
            rest = rest.subspan(*cut);
        }
        digest.add(rest.data(), rest.size());
        offset += got;
        if (got < blockSize) {
            if (offset > start) {
                endChunk(offset);
            }
            return;
        }
    }
}

HeldChunks chunksOfOpenFile(int fd, const std::string& path, const zipformat::ChunkSizes& sizes,
                            const std::function<void()>& progress) {
    HeldChunks held;
    cutOpenFile(fd, path, sizes,
                [&](std::uint64_t offset, std::uint64_t size, const Sha256& sha256) {
                    held.try_emplace(sha256, HeldChunk{offset, size});
                    progress();
                });
    return held;
}

} // namespace delta
