// A large changed file rebuilt from its chunks, through the whole window
// with the network a script: when its chunks do not come as listed (a
// flipped byte, a cache answering the range with the whole package), only
// that file is fetched whole and the bar never leaves 0 to 100; and chunks
// that end where a piece of the transfer ends are taken as they are.
#include "ChangedFilesFixture.h"
#include "LargeFiles.h"

#include "delta/ChunkMap.h"
#include "testsupport/CaseName.h"

#include <filesystem>
#include <functional>

namespace {

struct ChunkFault {
    const char* name;
    std::function<void(const std::string& package, testsupport::ScriptedAnswer&)> apply;
};

const std::vector<ChunkFault> chunkFaults = {
    {"FlippedByte",
     [](const std::string&, testsupport::ScriptedAnswer& answer) {
         answer.body[answer.body.size() / 2] ^= 0x01;
     }},
    {"WholePackageForTheRange",
     [](const std::string& package, testsupport::ScriptedAnswer& answer) {
         answer.status = 200;
         answer.headers.erase("content-range");
         answer.body = package;
     }},
};

class ChunkFallback : public ChangedFilesRun, public ::testing::WithParamInterface<ChunkFault> {};

// 1 MiB changed in one byte beside 3 MiB unchanged: the first request for
// the changed file's chunks goes wrong once.
TEST_P(ChunkFallback, FetchesOnlyThatFileWhole) {
    const LargeChange big = oneByteChanged(std::size_t{1} << 20);
    const std::string unchanged = randomBytes(9, std::size_t{3} << 20);
    install({{"data/big.bin", big.before}, {"data/same.bin", unchanged}, {"readme.txt", "1.3.1"}});
    publish({{"data/big.bin", big.after}, {"data/same.bin", unchanged}, {"readme.txt", "1.3.2"}});
    const delta::ByteSpan span = spanOf("data/big.bin");
    bool changed = false;
    web.change = [&](const testsupport::ScriptedRequest& request,
                     testsupport::ScriptedAnswer& answer) {
        const bool chunks = request.url == packageUrl && request.first && request.last &&
                            *request.first > span.offset + 30 &&
                            *request.first < span.offset + span.length;
        if (chunks && !changed) {
            changed = true;
            GetParam().apply(packageBytes(), answer);
        }
    };

    ASSERT_TRUE(runUpdate()) << testsupport::readFile(installFolder + "/NoteError.txt");
    EXPECT_TRUE(changed);
    EXPECT_EQ(installed("data/big.bin"), big.after);
    EXPECT_EQ(installed("readme.txt"), "1.3.2");
    EXPECT_FALSE(wholePackageAsked());
    // The file whole, what the try took and the small rest; never the
    // unchanged 3 MiB.
    EXPECT_GT(packageBytesTaken(), span.length);
    EXPECT_LT(packageBytesTaken(), span.length + 300 * 1024);
    // An update that went well leaves no log.
    EXPECT_FALSE(std::filesystem::exists(installFolder + "/NoteError.txt"));
}

INSTANTIATE_TEST_SUITE_P(Faults, ChunkFallback, ::testing::ValuesIn(chunkFaults),
                         testsupport::CaseName());

// Every answer for the changed file's bytes damaged, and the whole package
// too: nothing is installed, and the log says why the changed files did
// not do, the chunk's reason with it, not the progress bar's.
TEST_F(ChangedFilesRun, WhenNothingWorksTheLogGivesTheChunksReason) {
    const LargeChange big = oneByteChanged(std::size_t{1} << 20);
    install({{"data/big.bin", big.before}, {"readme.txt", "1.3.1"}});
    publish({{"data/big.bin", big.after}, {"readme.txt", "1.3.2"}});
    const delta::ByteSpan span = spanOf("data/big.bin");
    web.change = [&](const testsupport::ScriptedRequest& request,
                     testsupport::ScriptedAnswer& answer) {
        const std::uint64_t first = request.first.value_or(0);
        const bool damaged = request.url == packageUrl &&
                             first + answer.body.size() > span.offset &&
                             first < span.offset + span.length && answer.body.size() > 64;
        if (damaged) {
            answer.body[answer.body.size() / 2] ^= 0x01;
        }
    };

    EXPECT_FALSE(runUpdate());
    EXPECT_EQ(installed("data/big.bin"), big.before);
    EXPECT_TRUE(wholePackageAsked());
    const std::string log = testsupport::readFile(installFolder + "/NoteError.txt");
    EXPECT_NE(log.find("chunk"), std::string::npos) << log;
    EXPECT_EQ(log.find("Invalid property value"), std::string::npos) << log;
}

// Two changed chunks side by side, the first deflated to exactly one piece
// of the transfer (64 KiB): both come in one request and are taken.
TEST_F(ChangedFilesRun, TakesChunksEndingWithAPiece) {
    constexpr std::uint64_t piece = 64 * 1024;
    const LargeChange big = chunkEndingAt(piece);
    install({{"data/big.bin", big.before}, {"readme.txt", "1.3.1"}});
    publish({{"data/big.bin", big.after}, {"readme.txt", "1.3.2"}});
    std::string why;
    const auto map = delta::parseChunkMap(*package().chunkMapBytes, why);
    ASSERT_TRUE(map) << why;
    bool listed = false;
    for (const delta::MapChunk& chunk : map->find("data/big.bin")->chunks) {
        listed = listed || chunk.compressedSize == piece;
    }
    ASSERT_TRUE(listed) << "the zip library deflated the chunk to another length";

    ASSERT_TRUE(runUpdate()) << testsupport::readFile(installFolder + "/NoteError.txt");
    EXPECT_EQ(installed("data/big.bin"), big.after);
    EXPECT_FALSE(wholePackageAsked());
    // By its chunks: less than the file's entry, about two chunks.
    EXPECT_LT(packageBytesTaken(), spanOf("data/big.bin").length / 2);
}

} // namespace
