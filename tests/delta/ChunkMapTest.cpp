// The chunk map a package carries beside its manifest: read from whatever a
// server sent, refused when damaged, and read past where a later tool added
// lines this reader does not know.
#include "delta/ChunkMap.h"

#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

#include <random>
#include <zlib.h>

namespace {

const std::string digestA(32, 'a');
const std::string digestB = std::string(31, '0') + "1";

std::string mapOf(const std::vector<std::string>& lines) {
    std::string text = "morvane-chunks v1\n";
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

const std::string chunker = "chunker gear64 16384 65536 262144";

struct MapCase {
    const char* name;
    std::string text;
    std::string says;     // empty: it must be read
    bool sameText = true; // it writes back as the same text
};

class ChunkMapText : public ::testing::TestWithParam<MapCase> {};

TEST_P(ChunkMapText, IsReadOrRefusedWithItsReason) {
    const MapCase& c = GetParam();
    std::string why;
    const auto map = delta::parseChunkMap(c.text, why);
    if (!c.says.empty()) {
        EXPECT_FALSE(map.has_value());
        EXPECT_NE(why.find(c.says), std::string::npos) << why;
        return;
    }
    ASSERT_TRUE(map.has_value()) << why;
    if (c.sameText) {
        EXPECT_EQ(delta::formatChunkMap(*map), c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ChunkMapText,
    ::testing::Values(
        MapCase{"NoEntries", mapOf({chunker}), ""},
        MapCase{"TwoEntries",
                mapOf({chunker, "entry app/morvane.exe", "chunk 70000 30000 " + digestA,
                       "chunk 5 9 " + digestB, "entry read%20me.txt", "chunk 1 3 " + digestA}),
                ""},
        MapCase{"LaterLinesReadPast",
                mapOf({chunker, "note made by a later tool", "entry a", "chunk 1 3 " + digestA,
                       "entry-extra a 1", ""}),
                "", false},
        MapCase{"UnknownChunkerLeftUnusable",
                mapOf({"chunker other 1 2 3", "entry a", "chunk 999999999 3 " + digestA}), "",
                false},
        MapCase{"AnotherFirstLine", "morvane-chunks v2\n" + chunker + "\n", "begin with"},
        MapCase{"NoLineFeedAtTheEnd", mapOf({chunker}) + "entry a", "line feed"},
        MapCase{"NoChunkerLine", mapOf({}), "no chunker line"},
        MapCase{"EntryBeforeChunker", mapOf({"entry a", chunker}), "before the chunker"},
        MapCase{"TwoChunkerLines", mapOf({chunker, chunker}), "second chunker"},
        MapCase{"UnusableSizes", mapOf({"chunker gear64 65536 16384 262144"}), "cannot cut"},
        MapCase{"HugeSizes", mapOf({"chunker gear64 16384 65536 99999999999999"}), "cannot cut"},
        MapCase{"SizesNotNumbers", mapOf({"chunker gear64 16k 64k 256k"}), "not decimal"},
        MapCase{"ChunkBeforeEntry", mapOf({chunker, "chunk 1 3 " + digestA}), "before any entry"},
        MapCase{"EntryWithoutChunks",
                mapOf({chunker, "entry a", "entry b", "chunk 1 1 " + digestA}), "no chunks"},
        MapCase{"LastEntryWithoutChunks", mapOf({chunker, "entry a"}), "no chunks"},
        MapCase{
            "EntryTwice",
            mapOf({chunker, "entry a", "chunk 1 1 " + digestA, "entry a", "chunk 1 1 " + digestA}),
            "second entry"},
        MapCase{"BareBlankInName", mapOf({chunker, "entry a b", "chunk 1 1 " + digestA}),
                "escaped name"},
        MapCase{"EmptyChunk", mapOf({chunker, "entry a", "chunk 0 1 " + digestA}), "above 0"},
        MapCase{"LeadingZero", mapOf({chunker, "entry a", "chunk 01 1 " + digestA}), "above 0"},
        MapCase{"LongerThanMaximum", mapOf({chunker, "entry a", "chunk 262145 1 " + digestA}),
                "maximum"},
        // Deflate makes at most 70,039 bytes of 70,000 (zlib's bound and a
        // flush marker).
        MapCase{"CompressedAsDeflateAtMostMakes",
                mapOf({chunker, "entry a", "chunk 70000 70039 " + digestA}), ""},
        MapCase{"CompressedPastWhatDeflateMakes",
                mapOf({chunker, "entry a", "chunk 70000 70040 " + digestA}), "compressed size"},
        MapCase{"CompressedSizeNoChunkHas",
                mapOf({chunker, "entry a", "chunk 70000 3099999999999999000 " + digestA}),
                "compressed size"},
        MapCase{"SizesAddingPast2To63",
                mapOf({"chunker other 1 2 3", "entry a", "chunk 5000000000000000000 3 " + digestA,
                       "chunk 5000000000000000000 3 " + digestA}),
                "2^63"},
        MapCase{"UpperCaseDigest", mapOf({chunker, "entry a", "chunk 1 1 " + std::string(32, 'A')}),
                "digest"},
        MapCase{"ThreeFields", mapOf({chunker, "entry a", "chunk 1 " + digestA}), "chunk line"}),
    testsupport::CaseName());

TEST(ChunkMap, KnownChunkerGivesItsSizesAndEntriesByName) {
    std::string why;
    const auto map = delta::parseChunkMap(
        mapOf({"chunker gear64 1024 4096 8192", "entry a", "chunk 10 4 " + digestA}), why);
    ASSERT_TRUE(map) << why;
    ASSERT_TRUE(map->sizes);
    EXPECT_EQ(*map->sizes, (zipformat::ChunkSizes{1024, 4096, 8192}));
    ASSERT_NE(map->find("a"), nullptr);
    EXPECT_EQ(map->find("a")->chunks.size(), 1u);
    EXPECT_EQ(map->find("b"), nullptr);
    const auto other = delta::parseChunkMap(mapOf({"chunker other 1 2 3"}), why);
    ASSERT_TRUE(other);
    EXPECT_FALSE(other->sizes);
}

// What deflate really makes of bytes it cannot compress, a chunk ended by
// a full flush after one before it, at every level the zip library may use:
// a map listing it is read, so the bound refuses no chunk a package has.
TEST(ChunkMap, TakesWhatDeflateMakesOfBytesItCannotCompress) {
    std::mt19937 random(7);
    for (const int level : {0, 1, 6, 9}) {
        for (const std::size_t size : {1u, 1000u, 16384u, 65536u, 100001u, 262144u}) {
            z_stream stream{};
            ASSERT_EQ(deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY),
                      Z_OK);
            std::vector<unsigned char> out(2 * size + 1024);
            std::uint64_t compressed = 0;
            for (int chunk = 0; chunk < 2; ++chunk) {
                std::vector<unsigned char> bytes(size);
                std::generate(bytes.begin(), bytes.end(),
                              [&] { return static_cast<unsigned char>(random()); });
                stream.next_in = bytes.data();
                stream.avail_in = static_cast<uInt>(size);
                stream.next_out = out.data();
                stream.avail_out = static_cast<uInt>(out.size());
                ASSERT_EQ(deflate(&stream, Z_NO_FLUSH), Z_OK);
                ASSERT_EQ(deflate(&stream, Z_FULL_FLUSH), Z_OK);
                compressed = out.size() - stream.avail_out;
            }
            deflateEnd(&stream);
            std::string why;
            EXPECT_TRUE(
                delta::parseChunkMap(mapOf({"chunker other 1 2 3", "entry a",
                                            "chunk " + std::to_string(size) + ' ' +
                                                std::to_string(compressed) + ' ' + digestA}),
                                     why))
                << "level " << level << ", " << size << " bytes: " << why;
        }
    }
}

} // namespace
