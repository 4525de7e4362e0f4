#pragma once

// A file cut into chunks the way the zip library cuts an entry it deflates
// in chunks, each chunk hashed: for the publisher's chunk map, and for an
// installation to find the chunks it already holds.

#include "delta/ChunkMap.h"
#include "delta/Sha256.h"
#include "zipformat/ContentChunker.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace delta {

using ChunkFound =
    std::function<void(std::uint64_t offset, std::uint64_t size, const Sha256& sha256)>;

// Bytes cut into chunks as they come, each chunk's place and SHA-256 to
// found, in order.
class ChunkHasher {
public:
    ChunkHasher(const zipformat::ChunkSizes& sizes, ChunkFound found, std::string what);
    void add(std::span<const unsigned char> bytes);
    // The same for bytes whose chunks' ends (offsets in bytes, in order)
    // were found already, by a chunker with the same sizes that saw every
    // byte before them; a hasher is given bytes one of the two ways only.
    void addCut(std::span<const unsigned char> bytes, const std::vector<std::size_t>& ends);
    // The bytes left make the last chunk.
    void finish();

private:
    void take(std::span<const unsigned char> bytes);
    // The bytes end the chunk under way.
    void endChunkWith(std::span<const unsigned char> bytes);

    zipformat::ContentChunker m_chunker;
    ChunkFound m_found;
    std::string m_what;
    Sha256Digest m_digest;
    std::uint64_t m_start = 0;
    std::uint64_t m_offset = 0;
};

// Cuts the file open on fd, read from its start, with sizes: each chunk to
// found, in order; and every byte to whole, when given. path names it in a
// failure. Throws DeltaError when the file cannot be read.
void cutOpenFile(int fd, const std::string& path, const zipformat::ChunkSizes& sizes,
                 const ChunkFound& found, Sha256Digest* whole = nullptr);

struct HeldChunk {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

struct ChunkDigestHash {
    std::size_t operator()(const ChunkDigest& digest) const;
};
using HeldChunks = std::unordered_map<ChunkDigest, HeldChunk, ChunkDigestHash>;

// The chunks of the file open on fd, cut with sizes, by their digest (the
// first of equal ones); progress is called after each chunk. Throws
// DeltaError when the file cannot be read.
HeldChunks chunksOfOpenFile(int fd, const std::string& path, const zipformat::ChunkSizes& sizes,
                            const std::function<void()>& progress);

} // namespace delta
