#include "delta/ChunkPlan.h"

#include "zipformat/EntryData.h"
#include "zipformat/Records.h"

namespace delta {

std::uint64_t ChunkPlan::requestedBytes() const {
    return zipformat::localHeaderSize + fetchedBytes;
}

ChunkPlan planChunks(const ChunkedEntry& entry, const HeldChunks& held) {
    ChunkPlan plan;
    std::uint64_t compressedOffset = 0;
    for (const MapChunk& chunk : entry.chunks) {
        const auto found = held.find(chunk.digest);
        ChunkStep step{true, 0, compressedOffset};
        if (found != held.end() && found->second.size == chunk.size) {
            step = {false, found->second.offset, compressedOffset};
        } else {
            ++plan.fetchedCount;
            plan.fetchedBytes += chunk.compressedSize;
            if (!plan.steps.empty() && plan.steps.back().fetched) {
                plan.requests.back().length += chunk.compressedSize;
            } else {
                plan.requests.push_back({compressedOffset, chunk.compressedSize});
            }
        }
        plan.steps.push_back(step);
        compressedOffset += chunk.compressedSize;
    }
    return plan;
}

std::optional<std::string> chunksMismatch(const DirectoryEntry& entry, const ChunkedEntry& chunks) {
    std::uint64_t size = 0;
    std::uint64_t compressed = 0;
    for (const MapChunk& chunk : chunks.chunks) {
        size += chunk.size;
        compressed += chunk.compressedSize;
    }
    if (entry.method != zipformat::deflatedMethod || zipformat::isEncrypted(entry.flags)) {
        return "the chunked entry " + entry.name + " is not deflated as it is";
    }
    if (size != entry.size || compressed != entry.compressedSize) {
        return "the chunk map's sizes of " + entry.name + " are not the directory's";
    }
    return std::nullopt;
}

} // namespace delta
