#pragma once

// What the chunking tests of the zip library share: contents that chunk in
// telling ways, the chunk sizes they are cut with, and each entry's data
// found in an archive's bytes.

#include "zip32.h"
#include "zip32test/ZipHarness.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zip32test {

// Small chunks, so that a megabyte makes dozens of them.
inline constexpr uint32_t testMinimumChunk = 4096;
inline constexpr uint32_t testAverageChunk = 16384;
inline constexpr uint32_t testMaximumChunk = 65536;
ZpChunking testChunking(uint64_t smallestChunkedFile);

// Bytes no deflate can shrink, the same for the same seed.
std::string randomBytes(std::size_t size, unsigned seed);
// Lines of words, each ended by lineEnd.
std::string textLines(std::size_t size, const std::string& lineEnd);

// Where an entry's data lies in the archive and how it is stored.
struct EntryData {
    uint64_t offset = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint16_t method = 0;
};
// Every entry of a small archive (no zip64 fields), by name, read from its
// central directory and local headers.
std::map<std::string, EntryData> entryData(const std::string& archiveBytes);

// The reported chunks of one entry, in order.
std::vector<ReportedChunk> chunksOf(const std::vector<ReportedChunk>& chunks,
                                    const std::string& entry);

} // namespace zip32test
