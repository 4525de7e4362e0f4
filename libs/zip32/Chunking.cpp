#include "Chunking.h"

namespace zip32 {

std::optional<Chunking> readChunking(const ZpChunking& record) {
    Chunking chunking;
    chunking.smallestFile = record.smallestChunkedFile;
    chunking.sizes = {record.minimumChunk, record.averageChunk, record.maximumChunk};
    chunking.chunkWritten = record.chunkWritten;
    if (chunking.smallestFile != 0 && !zipformat::usableChunkSizes(chunking.sizes)) {
        return std::nullopt;
    }
    return chunking;
}

bool ChunkReport::report(const std::string& entryName, const Chunk& chunk) {
    if (!stopped() && m_callback != nullptr &&
        m_callback(entryName.c_str(), chunk.uncompressed, chunk.compressed) != 0) {
        m_stopped = true;
        m_stoppedAt = entryName;
    }
    return !stopped();
}

} // namespace zip32
