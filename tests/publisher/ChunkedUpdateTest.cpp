// The update of a large file changed in a few places: published by the tool
// with its chunks, installed over the release before it by the real updater
// in its real window, fetching only the chunks the installed file lacks,
// and the whole package when a chunk's bytes on the server are wrong.
#include "PublisherRun.h"

#include "delta/ChunkMap.h"
#include "delta/LocalPackage.h"
#include "testsupport/CaseName.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/TempDir.h"
#include "testsupport/TwoFacedServer.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

constexpr std::size_t largeSize = 8 << 20;

void makeRelease(const std::string& folder, int n, const std::string& large) {
    testsupport::writeVersionedExecutable(folder + "/morvane.exe", "1.3.0." + std::to_string(n));
    chmod((folder + "/morvane.exe").c_str(), 0755);
    testsupport::TempDir::makeFolder(folder + "/data");
    writeFile(folder + "/data/large.bin", large);
}

struct Change {
    const char* name;
    std::function<void(std::string&)> apply;
    std::size_t changedAt; // where the change lies in the new file
};

// 1.3.1 installed with the large file as it was, 1.3.2 published with it
// changed.
struct ChunkedPublication : KeyedPublication {
    explicit ChunkedPublication(const Change& change) {
        const std::string before = testsupport::halfTextHalfRandom(largeSize, 11);
        std::string after = before;
        change.apply(after);
        makeRelease(release.path(), 2, after);
        publish();
        makeRelease(install, 1, before);
    }

    std::string version() { return readFile(web / "clientfiles/morvane/version.php"); }

    void expectPublishedReleaseInstalled() {
        EXPECT_EQ(readFile(install + "/data/large.bin"), readFile(release / "data/large.bin"));
        EXPECT_EQ(readFile(install + "/morvane.exe"), readFile(release / "morvane.exe"));
    }
};

const std::vector<Change> changes = {
    {"OneByteInTheMiddle", [](std::string& bytes) { bytes[bytes.size() / 2] ^= 0x20; },
     largeSize / 2},
    {"KibInsertedAtATenth",
     [](std::string& bytes) { bytes.insert(largeSize / 10, std::string(1024, 'k')); },
     largeSize / 10},
};

class ChunkedUpdate : public ::testing::TestWithParam<Change> {};

TEST_P(ChunkedUpdate, FetchesOnlyTheChangedChunks) {
    ChunkedPublication published(GetParam());
    testsupport::TwoFacedServer server(published.version(), published.package, published.package);

    ASSERT_EQ(published.runUpdater(server.host()), 0)
        << readFile(published.scratch / "updater.out");
    published.expectPublishedReleaseInstalled();
    // The tail, the manifest, the chunk map, the executable and a chunk or
    // three: a small share of a package of about half the file's size.
    const std::uint64_t packageSize = readFile(published.package).size();
    EXPECT_LT(server.packageBytesSent(), packageSize / 10) << packageSize;
}

// The changed chunk's bytes damaged in what range requests get, while the
// whole package stays as published: the chunk is refused, the whole entry
// brings the same damage and is refused by its check, and the whole
// package installs.
TEST_P(ChunkedUpdate, FallsBackToTheWholePackageWhenAChunksBytesAreWrong) {
    ChunkedPublication published(GetParam());
    const delta::LocalPackage local = delta::readLocalPackage(published.package);
    std::string why;
    const auto map = delta::parseChunkMap(*local.chunkMapBytes, why);
    ASSERT_TRUE(map) << why;
    const delta::ChunkedEntry* chunks = map->find("data/large.bin");
    ASSERT_NE(chunks, nullptr);
    const delta::DirectoryEntry& entry =
        local.directory.entries[local.directory.find("data/large.bin")];
    std::string damaged = readFile(published.package);
    std::uint64_t offset =
        entry.localHeaderOffset + 30 +
        static_cast<unsigned char>(damaged[entry.localHeaderOffset + 26]) +
        256u * static_cast<unsigned char>(damaged[entry.localHeaderOffset + 27]) +
        static_cast<unsigned char>(damaged[entry.localHeaderOffset + 28]) +
        256u * static_cast<unsigned char>(damaged[entry.localHeaderOffset + 29]);
    std::uint64_t start = 0;
    for (const delta::MapChunk& chunk : chunks->chunks) {
        if (start + chunk.size > GetParam().changedAt) {
            damaged[offset + chunk.compressedSize / 2] ^= 0x55;
            break;
        }
        start += chunk.size;
        offset += chunk.compressedSize;
    }
    writeFile(published.scratch / "damaged.zip", damaged);
    testsupport::TwoFacedServer server(published.version(), published.package,
                                       published.scratch / "damaged.zip");

    ASSERT_EQ(published.runUpdater(server.host()), 0)
        << readFile(published.scratch / "updater.out");
    published.expectPublishedReleaseInstalled();
    EXPECT_GT(server.packageBytesSent(), damaged.size());
}

// --compare counts what the update fetches: the old release's file cut as
// the installation cuts it, only the chunks it lacks.
TEST_P(ChunkedUpdate, CompareCountsTheChangedChunks) {
    ChunkedPublication published(GetParam());
    testsupport::TempDir oldWeb;
    testsupport::TempDir oldRelease;
    makeRelease(oldRelease.path(), 1, testsupport::halfTextHalfRandom(largeSize, 11));
    ASSERT_EQ(
        runPublisher({oldRelease.path(), "1.3.1", oldWeb.path()}, published.scratch / "old.out")
            .status,
        0);
    const PublisherRun run =
        runPublisher({"--compare", oldWeb / "clientfiles/morvane/morvane.zip", published.package},
                     published.scratch / "compare.out");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("(1 of them by their changed chunks)"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("chunks, the rest from the installed file"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("fetches the changed files"), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(Changes, ChunkedUpdate, ::testing::ValuesIn(changes),
                         testsupport::CaseName());

} // namespace
