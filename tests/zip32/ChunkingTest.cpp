// Entries deflated in chunks: every chunk inflates alone from its offset to
// exactly its bytes, the reported lengths are the archive's, the cuts are
// the ones the content chunker makes of the stored bytes, and what is never
// chunked stays as it was.
#include "ChunkedArchive.h"
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "zip32test/ZipHarness.h"
#include "zipformat/ContentChunker.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <numeric>
#include <span>

namespace zip32test {
namespace {

using testsupport::readFile;
using unzip32test::runTool;

const zipformat::ChunkSizes testSizes{testMinimumChunk, testAverageChunk, testMaximumChunk};
// Files above this size are deflated as the archive is written, not ahead.
constexpr std::size_t beyondDeflatedAhead = 9 << 20;

// Inflates compressed alone with a fresh raw inflater: its bytes, and
// whether the stream ended with them. Fails the test when zlib refuses it
// or leaves input unused.
std::string inflateAlone(std::string_view compressed, bool& ended) {
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, -MAX_WBITS), Z_OK);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    std::string out;
    int result = Z_OK;
    while (result == Z_OK) {
        char piece[65536];
        stream.next_out = reinterpret_cast<Bytef*>(piece);
        stream.avail_out = sizeof piece;
        result = inflate(&stream, Z_SYNC_FLUSH);
        out.append(piece, sizeof piece - stream.avail_out);
        if (result == Z_BUF_ERROR && stream.avail_in == 0) {
            break;
        }
    }
    EXPECT_TRUE(result == Z_STREAM_END || result == Z_BUF_ERROR || result == Z_OK)
        << "inflate said " << result;
    EXPECT_EQ(stream.avail_in, 0u) << "compressed bytes left over";
    ended = result == Z_STREAM_END;
    inflateEnd(&stream);
    return out;
}

// Checks every chunk of entry against stored, the bytes the entry holds.
void expectChunksInflateAlone(const std::string& archive, const std::string& entry,
                              const std::vector<ReportedChunk>& chunks, const std::string& stored) {
    const std::string bytes = readFile(archive);
    const EntryData data = entryData(bytes).at(entry);
    EXPECT_EQ(data.method, 8);
    ASSERT_FALSE(chunks.empty());
    uint64_t compressedAt = data.offset;
    uint64_t storedAt = 0;
    std::vector<uint64_t> lengths;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        bool ended = false;
        const std::string inflated =
            inflateAlone(std::string_view(bytes).substr(compressedAt, chunks[i].compressed), ended);
        ASSERT_EQ(inflated.size(), chunks[i].uncompressed) << "chunk " << i;
        EXPECT_TRUE(inflated == stored.substr(storedAt, inflated.size())) << "chunk " << i;
        EXPECT_EQ(ended, i + 1 == chunks.size()) << "only the last chunk ends the stream";
        compressedAt += chunks[i].compressed;
        storedAt += chunks[i].uncompressed;
        lengths.push_back(chunks[i].uncompressed);
    }
    EXPECT_EQ(compressedAt - data.offset, data.compressedSize);
    EXPECT_EQ(storedAt, data.size);
    EXPECT_EQ(storedAt, stored.size());
    // An updater that cuts the installed file finds the same chunks.
    EXPECT_EQ(lengths,
              zipformat::chunkLengths(
                  std::span(reinterpret_cast<const unsigned char*>(stored.data()), stored.size()),
                  testSizes));
}

struct ContentCase {
    const char* name;
    std::string (*content)();
    uint64_t smallestChunkedFile;
    bool crlfToLf;
    // What the entry holds, from the file's content.
    std::string (*stored)(const std::string&);
};

std::string asItIs(const std::string& content) {
    return content;
}
std::string withLfOnly(const std::string& content) {
    std::string out;
    for (std::size_t i = 0; i < content.size(); ++i) {
        if (!(content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n')) {
            out += content[i];
        }
    }
    return out;
}

const ContentCase contentCases[] = {
    {"Random", [] { return randomBytes(1 << 20, 1); }, 65536, false, asItIs},
    {"Text", [] { return textLines(1 << 20, "\n"); }, 65536, false, asItIs},
    {"Zeros", [] { return std::string(1 << 20, '\0'); }, 65536, false, asItIs},
    {"SmallerThanOneChunk", [] { return textLines(3000, "\n"); }, 1000, false, asItIs},
    {"ExactlyTheThreshold", [] { return randomBytes(200000, 2); }, 200000, false, asItIs},
    {"LineEndsChangedFirst", [] { return textLines(300000, "\r\n"); }, 65536, true, withLfOnly},
    {"DeflatedAsWritten",
     [] {
         return textLines(beyondDeflatedAhead / 2, "\n") + randomBytes(beyondDeflatedAhead / 2, 3);
     },
     65536, false, asItIs},
    {"DeflatedAsWrittenLineEndsChanged", [] { return textLines(beyondDeflatedAhead, "\r\n"); },
     65536, true, withLfOnly},
};

class ChunkedContent : public testing::TestWithParam<ContentCase> {};

TEST_P(ChunkedContent, EachChunkInflatesAloneToExactlyItsBytes) {
    const ContentCase& c = GetParam();
    const testsupport::TempDir temp;
    const std::string content = c.content();
    const std::string stored = c.stored(content);
    unzip32test::writeTree(temp / "root", {{"data.bin", content}});
    ZipCall call;
    call.chunking = testChunking(c.smallestChunkedFile);
    call.options.crlfToLf = c.crlfToLf ? 1 : 0;
    const std::string archive = temp / "p.zip";
    ASSERT_EQ(call.run(archive, temp / "root", {"data.bin"}), ZP_OK) << call.printed;
    EXPECT_EQ(archiveEntries(archive), (std::map<std::string, std::string>{{"data.bin", stored}}));
    EXPECT_EQ(chunksOf(call.chunks, "data.bin").size(), call.chunks.size());
    expectChunksInflateAlone(archive, "data.bin", call.chunks, stored);
}

INSTANTIATE_TEST_SUITE_P(Zip32, ChunkedContent, testing::ValuesIn(contentCases),
                         testsupport::CaseName{});

// Entries that are not chunked: nothing is reported and they read back as
// they would without chunking.
struct UnchunkedCase {
    const char* name;
    std::string content;
    uint64_t smallestChunkedFile;
    uint8_t level;
    bool encrypt;
};

// Each beside an empty file, which is never chunked either.
const UnchunkedCase unchunkedCases[] = {
    {"OneByteBelowTheThreshold", std::string(65535, 'x'), 65536, 0, false},
    {"Stored", std::string(100000, 'x'), 1, '0', false},
    {"Encrypted", std::string(100000, 'x'), 1, 0, true},
};

class UnchunkedEntry : public testing::TestWithParam<UnchunkedCase> {};

TEST_P(UnchunkedEntry, IsNeverReported) {
    const UnchunkedCase& c = GetParam();
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"data.bin", c.content}, {"empty", ""}});
    ZipCall call;
    call.chunking = testChunking(c.smallestChunkedFile);
    call.options.compressionLevel = c.level;
    call.options.encryptEntries = c.encrypt ? 1 : 0;
    call.password = "pass";
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"*"}), ZP_OK) << call.printed;
    EXPECT_EQ(call.chunks, std::vector<ReportedChunk>{});
    if (!c.encrypt) {
        EXPECT_EQ(archiveEntries(temp / "p.zip"),
                  (std::map<std::string, std::string>{{"data.bin", c.content}, {"empty", ""}}));
    }
}

INSTANTIATE_TEST_SUITE_P(Zip32, UnchunkedEntry, testing::ValuesIn(unchunkedCases),
                         testsupport::CaseName{});

TEST(Zip32Chunking, ChunksComeInEntryOrderAndOnlyForEntriesWritten) {
    const testsupport::TempDir temp;
    const std::string first = textLines(300000, "\n");
    const std::string large = randomBytes(beyondDeflatedAhead, 4);
    const std::string later = textLines(200000, "\n");
    unzip32test::writeTree(temp / "root", {{"a.txt", first}, {"b.bin", large}, {"small", "s"}});
    ZipCall call;
    call.chunking = testChunking(65536);
    const std::string archive = temp / "p.zip";
    ASSERT_EQ(call.run(archive, temp / "root", {"a.txt", "small", "b.bin"}), ZP_OK) << call.printed;
    std::vector<std::string> order;
    for (const ReportedChunk& chunk : call.chunks) {
        if (order.empty() || order.back() != chunk.entry) {
            order.push_back(chunk.entry);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"a.txt", "b.bin"}));
    expectChunksInflateAlone(archive, "a.txt", chunksOf(call.chunks, "a.txt"), first);
    expectChunksInflateAlone(archive, "b.bin", chunksOf(call.chunks, "b.bin"), large);

    // Growing the archive: the entries copied as they are are not reported,
    // and their chunks still lie where they were reported.
    const std::vector<ReportedChunk> before = call.chunks;
    unzip32test::writeTree(temp / "root", {{"c.txt", later}});
    ASSERT_EQ(call.run(archive, temp / "root", {"c.txt"}), ZP_OK) << call.printed;
    EXPECT_EQ(order.size(), 2u);
    EXPECT_EQ(chunksOf(call.chunks, "c.txt"), call.chunks);
    expectChunksInflateAlone(archive, "c.txt", call.chunks, later);
    expectChunksInflateAlone(archive, "b.bin", chunksOf(before, "b.bin"), large);
}

struct StopCase {
    const char* name;
    std::size_t size;
};

const StopCase stopCases[] = {{"DeflatedAhead", 1 << 20},
                              {"DeflatedAsWritten", beyondDeflatedAhead}};

class ChunkStop : public testing::TestWithParam<StopCase> {};

TEST_P(ChunkStop, StopsTheCallAndLeavesTheArchiveAsItWas) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"old.txt", "old"}});
    ZipCall call;
    const std::string archive = temp / "p.zip";
    ASSERT_EQ(call.run(archive, temp / "root", {"old.txt"}), ZP_OK);
    const std::string before = readFile(archive);
    unzip32test::writeTree(temp / "root", {{"big.bin", randomBytes(GetParam().size, 5)}});
    call.chunking = testChunking(65536);
    call.stopAtChunk = 2;
    EXPECT_EQ(call.run(archive, temp / "root", {"big.bin"}), ZP_STOPPED_BY_CALLER);
    EXPECT_EQ(call.chunks.size(), 2u);
    EXPECT_NE(call.printed.find("stopped by the caller after a chunk of big.bin"),
              std::string::npos)
        << call.printed;
    EXPECT_TRUE(readFile(archive) == before);
    EXPECT_EQ(strayFiles(temp.path(), {"root", "p.zip"}), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Zip32, ChunkStop, testing::ValuesIn(stopCases), testsupport::CaseName{});

struct ArgumentCase {
    const char* name;
    uint64_t smallest;
    uint32_t minimum;
    uint32_t average;
    uint32_t maximum;
    int32_t expected;
};

const ArgumentCase argumentCases[] = {
    {"Usable", 1, 256, 512, 1024, ZP_OK},
    {"OffWithAnySizes", 0, 0, 0, 0, ZP_OK},
    {"MinimumTooSmall", 1, 255, 512, 1024, ZP_BAD_ARGUMENT},
    {"MinimumAboveAverage", 1, 1024, 512, 1024, ZP_BAD_ARGUMENT},
    {"AverageNotAPowerOfTwo", 1, 256, 600, 1024, ZP_BAD_ARGUMENT},
    {"AverageAboveMaximum", 1, 256, 2048, 1024, ZP_BAD_ARGUMENT},
    {"MaximumTooLarge", 1, 256, 512, (64u << 20) + 1, ZP_BAD_ARGUMENT},
    {"AllZeroButOn", 1, 0, 0, 0, ZP_BAD_ARGUMENT},
};

class ChunkingArgument : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ChunkingArgument, IsCheckedAndARefusalKeepsTheEarlierChunking) {
    const ArgumentCase& c = GetParam();
    const ZipApi& api = loadedZipApi();
    ZpChunking record{};
    record.smallestChunkedFile = c.smallest;
    record.minimumChunk = c.minimum;
    record.averageChunk = c.average;
    record.maximumChunk = c.maximum;
    EXPECT_EQ(api.setChunking(&record), c.expected);

    // After a refusal the chunking kept before still holds.
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"a.txt", textLines(100000, "\n")}});
    const ZpCallbacks callbacks{};
    ASSERT_EQ(api.init(&callbacks), ZP_OK);
    ZpOptions options{};
    const std::string root = temp / "root";
    options.rootDirectory = root.c_str();
    ASSERT_EQ(api.setOptions(&options), ZP_OK);
    static std::vector<uint64_t> reported;
    reported.clear();
    ZpChunking kept = testChunking(1);
    kept.chunkWritten = [](const char*, uint64_t uncompressed, uint64_t) -> int32_t {
        reported.push_back(uncompressed);
        return 0;
    };
    ASSERT_EQ(api.setChunking(&kept), ZP_OK);
    EXPECT_EQ(api.setChunking(&record), c.expected);
    const char* const names[] = {"querty", "a.txt"};
    ASSERT_EQ(api.archive(2, (temp / "p.zip").c_str(), names), ZP_OK);
    // An accepted record takes the place of the kept one and its callback.
    EXPECT_EQ(!reported.empty(), c.expected != ZP_OK);
    const ZpChunking off{};
    EXPECT_EQ(api.setChunking(&off), ZP_OK);
}

INSTANTIATE_TEST_SUITE_P(Zip32, ChunkingArgument, testing::ValuesIn(argumentCases),
                         testsupport::CaseName{});

TEST(Zip32Chunking, NullRecordIsRefused) {
    EXPECT_EQ(loadedZipApi().setChunking(nullptr), ZP_NULL_POINTER);
}

// A client that never calls ZpSetChunking, one that turns it off, and one
// whose threshold no file reaches get the same archive, byte for byte.
TEST(Zip32Chunking, WithoutChunkingNothingChanges) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"docs/a.txt", textLines(300000, "\n")},
                                           {"docs/b.bin", randomBytes(beyondDeflatedAhead, 6)}});
    runTool({ZIP32_C_CLIENT_PATH, ZIP32_LIBRARY_PATH, temp / "never.zip", temp / "root", "docs"});
    ZipCall call;
    call.options.recurseFolders = 1;
    ASSERT_EQ(call.run(temp / "off.zip", temp / "root", {"docs"}), ZP_OK);
    call.chunking = testChunking(beyondDeflatedAhead + 1);
    ASSERT_EQ(call.run(temp / "above.zip", temp / "root", {"docs"}), ZP_OK);
    EXPECT_EQ(call.chunks, std::vector<ReportedChunk>{});
    const std::string never = readFile(temp / "never.zip");
    EXPECT_TRUE(readFile(temp / "off.zip") == never);
    EXPECT_TRUE(readFile(temp / "above.zip") == never);
}

} // namespace
} // namespace zip32test
