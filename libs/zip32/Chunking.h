#pragma once

#include "zip32.h"
#include "zipformat/ContentChunker.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zip32 {

// The chunking ZpSetChunking keeps, in plain terms.
struct Chunking {
    // 0: nothing is chunked.
    uint64_t smallestFile = 0;
    zipformat::ChunkSizes sizes;
    ZpChunkCallback chunkWritten = nullptr;

    // Whether a file of this size on disk, deflated and not encrypted, is.
    bool chunks(uint64_t size) const { return smallestFile != 0 && size >= smallestFile; }
};

// The record read, or nothing when chunking is asked for with sizes the
// chunker cannot use.
std::optional<Chunking> readChunking(const ZpChunking& record);

// One chunk as it lands in the archive.
struct Chunk {
    uint64_t uncompressed = 0;
    uint64_t compressed = 0;
};

// Hands the chunks of one ZpArchive call to the caller's callback, on the
// calling thread, and remembers whether it asked to stop.
class ChunkReport {
public:
    explicit ChunkReport(ZpChunkCallback callback) : m_callback(callback) {}

    // False once the caller has asked to stop (this chunk or an earlier one).
    bool report(const std::string& entryName, const Chunk& chunk);
    bool stopped() const { return m_stopped; }
    // The entry whose chunk the caller stopped at.
    const std::string& stoppedAt() const { return m_stoppedAt; }

private:
    ZpChunkCallback m_callback;
    bool m_stopped = false;
    std::string m_stoppedAt;
};

// What a source needs to cut and report one entry's chunks.
struct ChunkPlan {
    std::string entryName;
    zipformat::ChunkSizes sizes;
    ChunkReport* report = nullptr;
};

} // namespace zip32
