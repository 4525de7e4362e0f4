#pragma once

#include "fetch/ChunkedFetch.h"

#include "delta/ChunkMap.h"
#include "delta/ChunkPlan.h"
#include "delta/PackageDirectory.h"

#include <cstdint>
#include <string>
#include <vector>

// An entry deflated in chunks inside a package of other bytes, each chunk's
// deflate data of exactly the compressed size asked (stored blocks ended as a
// full flush ends them), so that a test can place a chunk's end anywhere in
// the pieces of a transfer.
struct ChunkShape {
    std::uint64_t compressedSize = 0;
    bool held = false; // the installed file has it
};

struct ChunkedPackage {
    std::string bytes; // the whole package
    delta::DirectoryEntry entry;
    delta::ByteSpan span;
    delta::ChunkedEntry chunks;
    std::string file;                // the entry's bytes
    std::vector<std::string> pieces; // each chunk's bytes
};

ChunkedPackage chunkedPackage(const std::vector<ChunkShape>& shapes, unsigned seed);

// An installed file holding the held chunks, in another order and between
// other bytes, and where each lies in it.
struct HeldFile {
    std::string bytes;
    delta::HeldChunks held;
};
HeldFile heldFile(const ChunkedPackage& package, const std::vector<ChunkShape>& shapes);
