#pragma once

#include <cstdint>
#include <string>

// Large files an update rebuilds from their chunks, as the installation
// holds them and as the release has them.
struct LargeChange {
    std::string before;
    std::string after;
};

std::string randomBytes(unsigned seed, std::size_t size);

// A file of random bytes with one byte changed in its middle.
LargeChange oneByteChanged(std::size_t size);

// A file whose two neighbouring chunks are replaced, the first of which the
// zip library deflates to exactly compressedLength bytes: fetched together
// in one request, it ends exactly where a piece of that length ends.
LargeChange chunkEndingAt(std::uint64_t compressedLength);

// What the zip library makes of one chunk that is not its entry's last:
// deflated at its default level, ended by a full flush.
std::uint64_t deflatedChunkLength(const std::string& chunk);
