#pragma once

// What an installation fetches of an entry deflated in chunks: every chunk
// whose bytes the installed file already holds somewhere (found by cutting
// that file with the same chunker and hashing its chunks) is taken from it,
// every other one fetched as its compressed bytes, neighbours in one
// request.

#include "delta/ChunkMap.h"
#include "delta/FileChunks.h"
#include "delta/PackageDirectory.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace delta {

struct ChunkStep {
    bool fetched = false;
    std::uint64_t heldOffset = 0;       // where a taken chunk lies in the installed file
    std::uint64_t compressedOffset = 0; // from the entry's data
};

struct ChunkPlan {
    std::vector<ChunkStep> steps; // one for each chunk, in order
    // Runs of fetched chunks side by side, offsets from the entry's data.
    std::vector<ByteSpan> requests;
    std::uint64_t fetchedBytes = 0;
    std::size_t fetchedCount = 0;

    // What fetching the entry this way takes of the package: its local
    // header, which alone says where its data begins, and its chunks.
    std::uint64_t requestedBytes() const;
    // What a request costs beside its bytes (its round trip, its headers),
    // counted as the bytes a common link carries meanwhile.
    static constexpr std::uint64_t requestCost = 64 * 1024;
    // Whether fetching the entry this way, a request for the local header and
    // one for each run of chunks, costs less than fetching it whole, its
    // span in one request: many small changes spread over a file do not.
    bool saves(const ByteSpan& span) const {
        return requestedBytes() + (requests.size() + 1) * requestCost < span.length + requestCost;
    }
};

ChunkPlan planChunks(const ChunkedEntry& entry, const HeldChunks& held);

// Why the chunk map's entry does not describe the directory's: not deflated
// as it is (encrypted, another method), or sizes in all that are not the
// entry's; nothing when it does.
std::optional<std::string> chunksMismatch(const DirectoryEntry& entry, const ChunkedEntry& chunks);

} // namespace delta
