#include "LargeFiles.h"

#include "zipformat/ContentChunker.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <stdexcept>
#include <vector>
#include <zlib.h>

namespace {

std::span<const unsigned char> bytesOf(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// Random bytes of about length that the chunker, begun fresh, cuts exactly
// at their end and not before, and that deflate to exactly compressedLength.
std::string chunkOf(std::uint64_t compressedLength, unsigned seed) {
    const zipformat::ChunkSizes sizes;
    constexpr std::size_t tailLength = 8;
    // Random bytes deflate to a few bytes more than they are.
    std::uint64_t length = compressedLength - 32;
    for (int round = 0; round < 16; ++round, ++seed) {
        const std::string start = randomBytes(seed, length - tailLength);
        zipformat::ContentChunker chunker(sizes);
        if (chunker.cut(bytesOf(start))) {
            continue; // cut before its end: other bytes
        }
        std::mt19937 random(seed);
        for (int tries = 0; tries < 4'000'000; ++tries) {
            std::string tail(tailLength, '\0');
            for (char& c : tail) {
                c = static_cast<char>(random());
            }
            zipformat::ContentChunker rest = chunker;
            if (rest.cut(bytesOf(tail)) != tailLength) {
                continue;
            }
            const std::string chunk = start + tail;
            const std::uint64_t deflated = deflatedChunkLength(chunk);
            if (deflated == compressedLength) {
                return chunk;
            }
            length += compressedLength - deflated;
            break;
        }
    }
    throw std::runtime_error("no chunk deflates to " + std::to_string(compressedLength));
}

} // namespace

std::string randomBytes(unsigned seed, std::size_t size) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

LargeChange oneByteChanged(std::size_t size) {
    LargeChange change{randomBytes(1, size), {}};
    change.after = change.before;
    change.after[size / 2] ^= 0x5a;
    return change;
}

LargeChange chunkEndingAt(std::uint64_t compressedLength) {
    const zipformat::ChunkSizes sizes;
    LargeChange change{randomBytes(2, std::size_t{1} << 20), {}};
    const std::vector<std::uint64_t> lengths =
        zipformat::chunkLengths(bytesOf(change.before), sizes);
    // Two chunks past the first third: the first replaced by one of the
    // length asked, the next changed in its middle.
    std::size_t index = 0;
    std::uint64_t offset = 0;
    while (offset < change.before.size() / 3) {
        offset += lengths[index++];
    }
    const std::string first = chunkOf(compressedLength, 7);
    std::string second = change.before.substr(offset + lengths[index], lengths[index + 1]);
    second[second.size() / 2] ^= 0x5a;
    change.after = change.before.substr(0, offset) + first + second +
                   change.before.substr(offset + lengths[index] + lengths[index + 1]);
    // The cuts around them stay where they were.
    std::vector<std::uint64_t> expected = lengths;
    expected[index] = first.size();
    EXPECT_EQ(zipformat::chunkLengths(bytesOf(change.after), sizes), expected);
    return change;
}

std::uint64_t deflatedChunkLength(const std::string& chunk) {
    constexpr int defaultLevel = 6;
    z_stream stream{};
    if (deflateInit2(&stream, defaultLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        throw std::runtime_error("zlib cannot deflate");
    }
    std::vector<unsigned char> out(chunk.size() + 1024);
    std::string in = chunk;
    stream.next_in = reinterpret_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_NO_FLUSH);
    deflate(&stream, Z_FULL_FLUSH);
    const std::uint64_t length = out.size() - stream.avail_out;
    deflateEnd(&stream);
    return length;
}
