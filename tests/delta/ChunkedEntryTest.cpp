// An entry deflated in chunks, each ended with a full flush: every chunk
// inflates alone from its compressed offset to exactly its bytes, anything
// else a server sends in its place is refused, and an installed file cut by
// the same chunker gives every chunk it still holds, wherever it now lies.
#include "delta/ChunkInflater.h"
#include "delta/ChunkPlan.h"
#include "zipformat/Records.h"

#include "testsupport/TempDir.h"

#include "testsupport/CaseName.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (unsigned char& byte : bytes) {
        byte = static_cast<unsigned char>(generator());
    }
    return bytes;
}

Bytes textBytes(std::size_t size, unsigned seed) {
    static const std::string words[] = {"install ", "morvane ", "update\n", "chunk ", "0x7f "};
    std::mt19937 generator(seed);
    Bytes bytes;
    while (bytes.size() < size) {
        const std::string& word = words[generator() % 5];
        bytes.insert(bytes.end(), word.begin(), word.end());
    }
    bytes.resize(size);
    return bytes;
}

// The data deflated as the zip library deflates a chunked entry, and its map.
struct Chunked {
    Bytes deflated;
    delta::ChunkedEntry entry;
};

Chunked deflateInChunks(const Bytes& data, const zipformat::ChunkSizes& sizes) {
    Chunked chunked{{}, {"entry", {}}};
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    const auto lengths = zipformat::chunkLengths(data, sizes);
    std::size_t at = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        const std::size_t before = chunked.deflated.size();
        chunked.deflated.resize(before + deflateBound(&stream, lengths[i]) + 16);
        stream.next_in = const_cast<unsigned char*>(data.data() + at);
        stream.avail_in = static_cast<uInt>(lengths[i]);
        stream.next_out = chunked.deflated.data() + before;
        stream.avail_out = static_cast<uInt>(chunked.deflated.size() - before);
        deflate(&stream, i + 1 == lengths.size() ? Z_FINISH : Z_FULL_FLUSH);
        chunked.deflated.resize(chunked.deflated.size() - stream.avail_out);
        const std::string_view bytes(reinterpret_cast<const char*>(data.data() + at), lengths[i]);
        chunked.entry.chunks.push_back({lengths[i], chunked.deflated.size() - before,
                                        delta::chunkDigestOf(delta::sha256Of(bytes))});
        at += lengths[i];
    }
    deflateEnd(&stream);
    return chunked;
}

// Chunk index's compressed bytes inflated alone, in pieces of piece bytes:
// what came out, or the reason it was refused.
std::variant<Bytes, std::string> inflateChunk(const Chunked& chunked, std::size_t index,
                                              std::span<const unsigned char> compressed,
                                              std::size_t piece = 4096) {
    Bytes out;
    delta::ChunkInflater inflater([&out](std::span<const unsigned char> bytes) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    });
    inflater.start(chunked.entry.chunks[index], index + 1 == chunked.entry.chunks.size());
    while (!compressed.empty()) {
        const std::size_t taken =
            inflater.take(compressed.first(std::min(piece, compressed.size())));
        if (taken == 0) {
            break;
        }
        compressed = compressed.subspan(taken);
    }
    if (auto why = inflater.finish()) {
        return *why;
    }
    return out;
}

std::span<const unsigned char> compressedOf(const Chunked& chunked, std::size_t index) {
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < index; ++i) {
        offset += chunked.entry.chunks[i].compressedSize;
    }
    return std::span(chunked.deflated).subspan(offset, chunked.entry.chunks[index].compressedSize);
}

struct Content {
    const char* name;
    Bytes data;
};

class EveryChunk : public ::testing::TestWithParam<Content> {};

TEST_P(EveryChunk, InflatesAloneToExactlyItsBytes) {
    const Bytes& data = GetParam().data;
    const Chunked chunked = deflateInChunks(data, {});
    std::size_t at = 0;
    for (std::size_t i = 0; i < chunked.entry.chunks.size(); ++i) {
        for (std::size_t piece : {std::size_t{1} << 20, std::size_t{7}}) {
            const auto got = inflateChunk(chunked, i, compressedOf(chunked, i), piece);
            ASSERT_TRUE(std::holds_alternative<Bytes>(got))
                << i << ": " << std::get<std::string>(got);
            EXPECT_TRUE(std::equal(std::get<Bytes>(got).begin(), std::get<Bytes>(got).end(),
                                   data.begin() + static_cast<std::ptrdiff_t>(at)));
        }
        at += chunked.entry.chunks[i].size;
    }
    EXPECT_EQ(at, data.size());
}

INSTANTIATE_TEST_SUITE_P(Contents, EveryChunk,
                         ::testing::Values(Content{"random", randomBytes(1 << 20, 1)},
                                           Content{"text", textBytes(1 << 20, 2)},
                                           Content{"zeros", Bytes(600 * 1024, 0)},
                                           Content{"smallerThanAChunk", textBytes(5000, 3)}),
                         testsupport::CaseName());

TEST(ChunkInflater, RefusesBytesThatAreNotTheChunk) {
    const Chunked chunked = deflateInChunks(textBytes(1 << 20, 4), {});
    ASSERT_GE(chunked.entry.chunks.size(), 3u);
    const auto middle = compressedOf(chunked, 1);
    Bytes flipped(middle.begin(), middle.end());
    flipped[flipped.size() / 2] ^= 0x10;
    Chunked listedLonger = chunked;
    listedLonger.entry.chunks[1].size += 1;
    Chunked otherDigest = chunked;
    otherDigest.entry.chunks[1].digest[0] ^= 1;
    struct Case {
        const char* name;
        const Chunked& chunked;
        std::size_t index;
        Bytes bytes;
        std::string says;
    };
    const auto bytesOf = [](std::span<const unsigned char> span) {
        return Bytes(span.begin(), span.end());
    };
    const Bytes last = bytesOf(compressedOf(chunked, chunked.entry.chunks.size() - 1));
    const std::vector<Case> cases = {
        {"aByteChanged", chunked, 1, flipped, ""},
        {"listedLonger", listedLonger, 1, bytesOf(middle), "not"},
        {"otherDigest", otherDigest, 1, bytesOf(middle), "not the ones"},
        {"cutShort", chunked, 1, bytesOf(middle.first(middle.size() - 5)), "compressed bytes end"},
        {"lastChunkInAnotherPlace", chunked, 1, last, ""},
        {"middleChunkAsTheLast", chunked, chunked.entry.chunks.size() - 1, bytesOf(middle), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto got = inflateChunk(c.chunked, c.index, c.bytes);
        ASSERT_TRUE(std::holds_alternative<std::string>(got));
        EXPECT_NE(std::get<std::string>(got).find(c.says), std::string::npos)
            << std::get<std::string>(got);
    }
}

// An installed file, one version older than the chunked entry.
delta::HeldChunks heldChunksOf(const Bytes& installed) {
    testsupport::TempDir folder;
    const std::string path = folder / "installed";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    EXPECT_EQ(::write(fd, installed.data(), installed.size()),
              static_cast<ssize_t>(installed.size()));
    int calls = 0;
    auto held = delta::chunksOfOpenFile(fd, path, {}, [&calls] { ++calls; });
    ::close(fd);
    EXPECT_EQ(static_cast<std::size_t>(calls), zipformat::chunkLengths(installed, {}).size());
    return held;
}

TEST(ChunkPlan, FetchesOnlyTheChunksTheInstalledFileLacks) {
    const Bytes old = textBytes(3 << 20, 5);
    struct Case {
        const char* name;
        Bytes now;
        std::size_t mostFetched;
    };
    Bytes oneByte = old;
    oneByte[oneByte.size() / 2] ^= 1;
    Bytes inserted = old;
    const Bytes kib = randomBytes(1024, 6);
    inserted.insert(inserted.begin() + 300000, kib.begin(), kib.end());
    const std::vector<Case> cases = {{"same", old, 0},
                                     {"oneByteChanged", oneByte, 2},
                                     {"kibInserted", inserted, 3},
                                     {"allNew", randomBytes(1 << 20, 7), 1000}};
    const delta::HeldChunks held = heldChunksOf(old);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Chunked chunked = deflateInChunks(c.now, {});
        const delta::ChunkPlan plan = delta::planChunks(chunked.entry, held);
        ASSERT_EQ(plan.steps.size(), chunked.entry.chunks.size());
        EXPECT_LE(plan.fetchedCount, c.mostFetched);
        // Every step rebuilds its chunk: from the installed file or fetched.
        std::uint64_t fetched = 0;
        for (std::size_t i = 0; i < plan.steps.size(); ++i) {
            const delta::MapChunk& chunk = chunked.entry.chunks[i];
            if (!plan.steps[i].fetched) {
                const std::string_view bytes(reinterpret_cast<const char*>(old.data()) +
                                                 plan.steps[i].heldOffset,
                                             chunk.size);
                EXPECT_EQ(delta::chunkDigestOf(delta::sha256Of(bytes)), chunk.digest) << i;
            }
        }
        // Neighbours go in one request, and the requests cover the fetched chunks.
        for (std::size_t r = 0; r < plan.requests.size(); ++r) {
            fetched += plan.requests[r].length;
            if (r > 0) {
                EXPECT_LT(plan.requests[r - 1].offset + plan.requests[r - 1].length,
                          plan.requests[r].offset);
            }
        }
        EXPECT_EQ(fetched, plan.fetchedBytes);
    }
}

} // namespace

// The changed chunks are fetched only where that costs less than the entry
// whole, each request counted with its round trip: one change is, many
// small ones spread over the file are not, though their bytes alone are
// fewer than the entry's.
TEST(ChunkPlan, TakesTheEntryWholeWhenItsChangesAreSpreadThin) {
    const Bytes old = randomBytes(4 << 20, 8);
    const delta::HeldChunks held = heldChunksOf(old);
    const auto planFor = [&](std::size_t every) {
        Bytes now = old;
        for (std::size_t at = every / 2; at < now.size(); at += every) {
            now[at] ^= 1;
        }
        const Chunked chunked = deflateInChunks(now, {});
        std::uint64_t compressed = 0;
        for (const delta::MapChunk& chunk : chunked.entry.chunks) {
            compressed += chunk.compressedSize;
        }
        const delta::ByteSpan span{0, zipformat::localHeaderSize + compressed};
        const delta::ChunkPlan plan = delta::planChunks(chunked.entry, held);
        return std::pair{plan, span};
    };
    const auto [one, oneSpan] = planFor(old.size());
    EXPECT_TRUE(one.saves(oneSpan));
    const auto [spread, spreadSpan] = planFor(100 * 1024);
    EXPECT_LT(spread.requestedBytes(), spreadSpan.length);
    EXPECT_FALSE(spread.saves(spreadSpan))
        << spread.requestedBytes() << " in " << spread.requests.size() << " requests of "
        << spreadSpan.length;
}
