// A changed file rebuilt from its chunks through the fetching part's face:
// the chunks the installed file holds copied from it, the others fetched
// by range and inflated alone, wherever their ends fall in the pieces the
// transfer hands; anything that does not hold leaves no file.
#include "ChunkedEntry.h"

#include "fetch/ChunkedFetch.h"
#include "fetch/FetchFailure.h"
#include "fetch/RangeFetch.h"

#include "delta/Sha256.h"
#include "fileio/Reading.h"
#include "testsupport/CaseName.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/ScriptedWeb.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

namespace {

const std::string url = "http://updates.morvane.test/morvane.zip";
constexpr std::uint64_t piece = 64 * 1024;

// Rebuilds the entry of shapes from a scripted web serving its package.
class Rebuild {
public:
    explicit Rebuild(const std::vector<ChunkShape>& shapes)
        : package(chunkedPackage(shapes, 5)), installed(heldFile(package, shapes)) {
        web.serve(url, package.bytes);
        testsupport::writeFile(installedPath(), installed.bytes);
    }

    std::string installedPath() const { return root / "installed.bin"; }
    std::string target() const { return root / "rebuilt.bin"; }

    updater::Outcome<void> run(mode_t mode = 0644) {
        struct stat status {};
        updater::InstalledChunks chunks{
            fileio::openRegularFile(installedPath(), status, fileio::LastLink::refuse),
            installedPath(), installed.held};
        plan = delta::planChunks(package.chunks, chunks.held);
        if (beforeRebuild) {
            beforeRebuild();
        }
        const auto transfer = services.newInternetTransfer();
        updater::RangeFetch ranges(*transfer, [] {});
        updater::ChunkedFetch fetch(ranges, [this](std::uint64_t bytes) { received += bytes; });
        const delta::Sha256 listed = delta::sha256Of(package.file);
        const updater::ChunkedFetch::Source source{
            url,   package.bytes.size(), package.entry, package.span, package.chunks, plan, chunks,
            listed};
        return fetch.fetch(source, target(), mode, written);
    }

    testsupport::TempDir root;
    ChunkedPackage package;
    HeldFile installed;
    testsupport::ScriptedWeb web;
    testsupport::ScriptedServices services{web};
    delta::ChunkPlan plan;
    std::function<void()> beforeRebuild;
    std::uint64_t received = 0;
    delta::Sha256 written{};
};

struct PieceEnd {
    const char* name;
    // The compressed sizes of the two chunks fetched side by side first.
    std::uint64_t first;
    std::uint64_t second;
};

// The first run of fetched chunks is asked in one request, whose pieces end
// every 64 KiB from the run's first byte.
const std::vector<PieceEnd> pieceEnds = {
    {"FirstEndsWithAPiece", piece, 30'000},
    {"FirstEndsAByteBefore", piece - 1, 30'000},
    {"FirstEndsAByteAfter", piece + 1, 30'000},
    {"FirstEndsWithTwoPieces", 2 * piece, 30'000},
    {"SecondEndsWithAPiece", 20'000, piece - 20'000},
    {"SecondEndsAByteAfter", 20'000, piece - 20'000 + 1},
    {"RunEndsWithTheBody", 30'000, 2 * piece - 30'000},
};

class ChunksAcrossPieces : public ::testing::TestWithParam<PieceEnd> {};

TEST_P(ChunksAcrossPieces, RebuildTheFile) {
    const std::vector<ChunkShape> shapes = {{25'000, true},
                                            {GetParam().first, false},
                                            {GetParam().second, false},
                                            {40'000, true},
                                            {9'000, false}};
    Rebuild rebuild(shapes);

    const auto rebuilt = rebuild.run(0666);

    ASSERT_TRUE(rebuilt) << updater::reasonOf(rebuilt);
    EXPECT_EQ(testsupport::readFile(rebuild.target()), rebuild.package.file);
    EXPECT_EQ(rebuild.written, delta::sha256Of(rebuild.package.file));
    struct stat status {};
    ASSERT_EQ(::stat(rebuild.target().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0666U);
    // The local header and the two runs, each asked once, and every byte
    // they brought reported.
    EXPECT_EQ(rebuild.web.requests().size(), 3U);
    EXPECT_EQ(rebuild.received, rebuild.web.bytesTaken(url));
    EXPECT_EQ(rebuild.received, rebuild.plan.requestedBytes());
}

INSTANTIATE_TEST_SUITE_P(PieceEnds, ChunksAcrossPieces, ::testing::ValuesIn(pieceEnds),
                         testsupport::CaseName());

using Kind = updater::FetchFailureKind;

struct RebuildFault {
    const char* name;
    std::function<void(Rebuild&)> apply;
    // Whether the fault lets any request through.
    bool asks;
    updater::FetchFailureKind kind;
};

const std::vector<ChunkShape> faultSpecs = {
    {25'000, true}, {piece, false}, {30'000, false}, {40'000, true}, {9'000, false}};

// Changes the answer to the request that begins at the second chunk.
std::function<void(Rebuild&)>
runAnswer(std::function<void(const std::string&, testsupport::ScriptedAnswer&)> change) {
    return [change](Rebuild& rebuild) {
        rebuild.web.change = [&rebuild, change](const testsupport::ScriptedRequest& request,
                                                testsupport::ScriptedAnswer& answer) {
            if (request.first && *request.first > rebuild.package.span.offset + 30 &&
                answer.body.size() > piece) {
                change(rebuild.package.bytes, answer);
            }
        };
    };
}

const std::vector<RebuildFault> rebuildFaults = {
    {"FlippedByteInAFetchedChunk",
     runAnswer([](const std::string&, testsupport::ScriptedAnswer& answer) {
         answer.body[piece + 100] ^= 0x01;
     }),
     true, Kind::notAsSigned},
    {"WholePackageForTheRun",
     runAnswer([](const std::string& package, testsupport::ScriptedAnswer& answer) {
         answer.status = 200;
         answer.headers.erase("content-range");
         answer.body = package;
     }),
     true, Kind::rangesRefused},
    {"RunCutShort", runAnswer([](const std::string&, testsupport::ScriptedAnswer& answer) {
         answer.failsAfter = piece;
     }),
     true, Kind::transferFailed},
    {"HeldChunkChangedSincePlanned",
     [](Rebuild& rebuild) {
         rebuild.beforeRebuild = [&rebuild] {
             std::string bytes = rebuild.installed.bytes;
             bytes[rebuild.installed.held.begin()->second.offset + 7] ^= 0x01;
             testsupport::writeFile(rebuild.installedPath(), bytes);
         };
     },
     true, Kind::localFiles},
    {"InstalledFileCutShort",
     [](Rebuild& rebuild) {
         rebuild.beforeRebuild = [&rebuild] {
             ASSERT_EQ(::truncate(rebuild.installedPath().c_str(), 400), 0);
         };
     },
     true, Kind::localFiles},
    {"NoLocalHeaderAtTheOffset",
     [](Rebuild& rebuild) {
         std::string bytes = rebuild.package.bytes;
         bytes[rebuild.package.span.offset] = 'Q';
         rebuild.web.serve(url, bytes);
     },
     true, Kind::notAsSigned},
    {"DataPastTheSpan", [](Rebuild& rebuild) { rebuild.package.span.length -= 1; }, true,
     Kind::notAsSigned},
    {"MapSizesNotTheDirectorys", [](Rebuild& rebuild) { rebuild.package.entry.size += 1; }, false,
     Kind::notAsSigned},
    {"StoredEntry", [](Rebuild& rebuild) { rebuild.package.entry.method = 0; }, false,
     Kind::notAsSigned},
};

class RebuildFaults : public ::testing::TestWithParam<RebuildFault> {};

TEST_P(RebuildFaults, LeaveNoFile) {
    Rebuild rebuild(faultSpecs);
    GetParam().apply(rebuild);

    const auto rebuilt = rebuild.run();
    ASSERT_FALSE(rebuilt);
    EXPECT_EQ(updater::fetchFailureKind(rebuilt.failure()), GetParam().kind);
    EXPECT_FALSE(testsupport::exists(rebuild.target()));
    EXPECT_EQ(!rebuild.web.requests().empty(), GetParam().asks);
    // What the requests brought is reported even when it is not taken.
    EXPECT_EQ(rebuild.received, rebuild.web.bytesTaken(url));
}

INSTANTIATE_TEST_SUITE_P(Faults, RebuildFaults, ::testing::ValuesIn(rebuildFaults),
                         testsupport::CaseName());

TEST(ChunkedFetch, AFullDiskLeavesNoFile) {
    Rebuild rebuild(faultSpecs);
    testsupport::FailingWrites full(rebuild.target(), ENOSPC, 100'000);

    const auto rebuilt = rebuild.run();
    ASSERT_FALSE(rebuilt);
    EXPECT_EQ(updater::fetchFailureKind(rebuilt.failure()), Kind::localFiles);
    EXPECT_GT(full.failedWrites(), 0U);
    EXPECT_FALSE(testsupport::exists(rebuild.target()));
}

// A file already in the way is neither taken as rebuilt nor replaced.
TEST(ChunkedFetch, RefusesAFileInTheWay) {
    Rebuild rebuild(faultSpecs);
    testsupport::writeFile(rebuild.target(), "earlier");

    const auto rebuilt = rebuild.run();
    ASSERT_FALSE(rebuilt);
    EXPECT_EQ(updater::fetchFailureKind(rebuilt.failure()), Kind::localFiles);
    EXPECT_EQ(testsupport::readFile(rebuild.target()), "earlier");
}

} // namespace
