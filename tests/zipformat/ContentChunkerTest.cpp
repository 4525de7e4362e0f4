#include "zipformat/ContentChunker.h"

#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using zipformat::chunkLengths;
using zipformat::ChunkSizes;

std::vector<unsigned char> randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<unsigned char> bytes(size);
    for (unsigned char& byte : bytes) {
        byte = static_cast<unsigned char>(generator());
    }
    return bytes;
}

// Text that repeats words from a small list: compressible, as program
// files and documents are.
std::vector<unsigned char> wordyBytes(std::size_t size, unsigned seed) {
    static const char* const words[] = {"update ",  "morvane ", "file ", "install ",
                                        "version ", "chunk\n",  "0x1f ", "return "};
    std::mt19937 generator(seed);
    std::vector<unsigned char> bytes;
    while (bytes.size() < size) {
        const std::string word = words[generator() % 8];
        bytes.insert(bytes.end(), word.begin(), word.end());
    }
    bytes.resize(size);
    return bytes;
}

// The offsets at which chunks end.
std::vector<std::uint64_t> cuts(const std::vector<std::uint64_t>& lengths) {
    std::vector<std::uint64_t> ends(lengths.size());
    std::partial_sum(lengths.begin(), lengths.end(), ends.begin());
    return ends;
}

struct Shape {
    const char* name;
    std::vector<unsigned char> data;
    ChunkSizes sizes;
};

class ChunkShapes : public ::testing::TestWithParam<Shape> {};

TEST_P(ChunkShapes, CoverTheDataWithinTheSizesAndNearTheAverage) {
    const Shape& shape = GetParam();
    const auto lengths = chunkLengths(shape.data, shape.sizes);
    ASSERT_EQ(std::accumulate(lengths.begin(), lengths.end(), std::uint64_t{0}), shape.data.size());
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        EXPECT_LE(lengths[i], shape.sizes.maximum) << i;
        if (i + 1 < lengths.size()) {
            EXPECT_GE(lengths[i], shape.sizes.minimum) << i;
        }
    }
    if (shape.data.size() >= 64 * shape.sizes.average) {
        const double mean =
            static_cast<double>(shape.data.size()) / static_cast<double>(lengths.size());
        EXPECT_GT(mean, 0.5 * shape.sizes.average);
        EXPECT_LT(mean, 2.0 * shape.sizes.average);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Data, ChunkShapes,
    ::testing::Values(Shape{"random", randomBytes(16 << 20, 1), {}},
                      Shape{"text", wordyBytes(16 << 20, 2), {}},
                      Shape{"zeros", std::vector<unsigned char>(3 << 20, 0), {}},
                      Shape{"smallSizes", randomBytes(1 << 20, 3), {512, 2048, 8192}},
                      Shape{"fixedSize", randomBytes(1 << 20, 4), {4096, 4096, 4096}}),
    testsupport::CaseName());

TEST(ContentChunker, EmptyAndShortData) {
    EXPECT_TRUE(chunkLengths({}, {}).empty());
    const auto one = randomBytes(1, 5);
    EXPECT_EQ(chunkLengths(one, {}), std::vector<std::uint64_t>{1});
    const auto belowMinimum = randomBytes(16 * 1024 - 1, 6);
    EXPECT_EQ(chunkLengths(belowMinimum, {}), std::vector<std::uint64_t>{16 * 1024 - 1});
}

TEST(ContentChunker, ZerosAreCutAtTheMaximum) {
    const std::vector<unsigned char> zeros(1 << 20, 0);
    for (std::uint64_t length : chunkLengths(zeros, {})) {
        EXPECT_EQ(length, 256u * 1024);
    }
}

// The cuts a change leaves where they were: all before it but the one
// chunk it lands in, and all after it but the next few, shifted by what
// was inserted.
TEST(ContentChunker, ChangesMoveOnlyTheCutsNearThem) {
    struct Change {
        const char* name;
        std::size_t at;
        std::size_t removed;
        std::vector<unsigned char> inserted;
    };
    const auto base = wordyBytes(8 << 20, 7);
    const std::vector<Change> changes = {{"oneByteChanged", 4 << 20, 1, {0x55}},
                                         {"kibInserted", 800 * 1024, 0, randomBytes(1024, 8)},
                                         {"kibRemoved", 3 << 20, 1024, {}},
                                         {"insertedAtStart", 0, 0, randomBytes(100, 9)}};
    const auto before = cuts(chunkLengths(base, {}));
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        auto changed = base;
        changed.erase(changed.begin() + change.at, changed.begin() + change.at + change.removed);
        changed.insert(changed.begin() + change.at, change.inserted.begin(), change.inserted.end());
        const auto after = cuts(chunkLengths(changed, {}));
        const auto shift = static_cast<std::int64_t>(change.inserted.size()) -
                           static_cast<std::int64_t>(change.removed);
        std::size_t kept = 0;
        for (std::uint64_t end : before) {
            const std::uint64_t moved = end < change.at ? end : end + shift;
            kept += std::binary_search(after.begin(), after.end(), moved) ? 1 : 0;
        }
        EXPECT_GE(kept + 3, before.size());
    }
}

TEST(ContentChunker, CutsDoNotDependOnHowTheDataArrives) {
    const auto data = wordyBytes(2 << 20, 10);
    const auto whole = chunkLengths(data, {});
    for (std::size_t piece : {1u, 7u, 4096u, 65537u}) {
        zipformat::ContentChunker chunker({});
        std::vector<std::uint64_t> lengths;
        std::uint64_t start = 0;
        for (std::size_t at = 0; at < data.size(); at += piece) {
            std::span<const unsigned char> rest(data.data() + at,
                                                std::min(piece, data.size() - at));
            std::uint64_t offset = at;
            while (auto cut = chunker.cut(rest)) {
                offset += *cut;
                lengths.push_back(offset - start);
                start = offset;
                rest = rest.subspan(*cut);
            }
        }
        if (start < data.size()) {
            lengths.push_back(data.size() - start);
        }
        EXPECT_EQ(lengths, whole) << piece;
    }
}

// Every published chunk map depends on where the chunker cuts: the same
// bytes must be cut in the same places by every build, this one and the
// ones after it.
TEST(ContentChunker, CutsWhereEveryEarlierBuildCut) {
    std::mt19937 generator(2026);
    std::vector<unsigned char> data(1 << 20);
    for (unsigned char& byte : data) {
        byte = static_cast<unsigned char>(generator());
    }
    const auto standard = chunkLengths(data, {});
    const auto small = chunkLengths(data, {512, 2048, 8192});
    EXPECT_EQ(
        std::vector<std::uint64_t>(standard.begin(), standard.begin() + 8),
        (std::vector<std::uint64_t>{55221, 68573, 101728, 48563, 80952, 157200, 88651, 37379}));
    EXPECT_EQ(std::vector<std::uint64_t>(small.begin(), small.begin() + 8),
              (std::vector<std::uint64_t>{1309, 3880, 886, 2815, 2757, 2878, 1845, 1287}));
}

TEST(ContentChunker, UsableSizes) {
    struct Case {
        ChunkSizes sizes;
        bool usable;
    };
    for (const Case& c : std::vector<Case>{{{}, true},
                                           {{256, 256, 256}, true},
                                           {{255, 1024, 4096}, false},
                                           {{4096, 2048, 8192}, false},
                                           {{1024, 3000, 8192}, false},
                                           {{1024, 4096, 2048}, false},
                                           {{1024, 4096, (64u << 20) + 1}, false}}) {
        EXPECT_EQ(zipformat::usableChunkSizes(c.sizes), c.usable)
            << c.sizes.minimum << " " << c.sizes.average << " " << c.sizes.maximum;
    }
}

} // namespace
