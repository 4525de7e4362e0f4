#include "delta/ChunkPlan.h"

namespace delta {

ChunkPlan planChunks(const ChunkedEntry& entry, const HeldChunks& held) {
    ChunkPlan plan;
    std::uint64_t compressedOffset = 0;
    for (const MapChunk& chunk : entry.chunks) {
        const auto found = held.find(chunk.sha256);
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

} // namespace delta
