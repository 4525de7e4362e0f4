// A signed release served by each web server and cache publishers use,
// installed by the real updater in its real window: first as a whole
// package, then over the release before it by the changed files (a large
// file by its changed chunks), then by a download killed part way and gone
// on with. The updater reaches each cell through a relay that counts the
// bytes it fetched and keeps the heads of every request and answer. Those,
// the time and each cell's logs are left in the artifact folder as the
// evidence of what it did.
#include "testsupport/MatrixServers.h"

#include "MatrixRuns.h"
#include "PublisherRun.h"
#include "run/UpdateRun.h"
#include "testsupport/CaseName.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PacedRelay.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/RunOutcome.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using namespace matrix;

using Exchange = testsupport::PacedRelay::Exchange;
using Report = updater::UpdateRun::Report;

// The value of a header in a request's or answer's head, "" without it.
std::string headerValue(const std::string& head, const std::string& name) {
    const std::string field = "\r\n" + name + ":";
    const auto found = std::search(
        head.begin(), head.end(), field.begin(), field.end(),
        [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
    if (found == head.end()) {
        return {};
    }
    const std::size_t start = static_cast<std::size_t>(found - head.begin()) + field.size();
    const std::size_t end = head.find("\r\n", start);
    const std::size_t first = head.find_first_not_of(' ', start);
    return first < end ? head.substr(first, end - first) : std::string();
}

// "206" of "HTTP/1.1 206 Partial Content"; "" without an answer.
std::string statusOf(const Exchange& exchange) {
    return exchange.answer.size() > 12 ? exchange.answer.substr(9, 3) : std::string();
}

bool asksThePackage(const Exchange& exchange) {
    return exchange.request.find("/morvane.zip ") != std::string::npos;
}

std::uint64_t bytesOf(const std::vector<Exchange>& exchanges) {
    std::uint64_t bytes = 0;
    for (const Exchange& exchange : exchanges) {
        bytes += exchange.fromServer;
    }
    return bytes;
}

std::string describe(const std::vector<Exchange>& exchanges) {
    std::string text;
    for (const Exchange& exchange : exchanges) {
        text += exchange.request + exchange.answer + "carried " +
                std::to_string(exchange.fromServer) + " bytes\n\n";
    }
    return text;
}

// The updater asks single ranges only, whatever the cell does with more.
void expectSingleRanges(const std::vector<Exchange>& exchanges) {
    for (const Exchange& exchange : exchanges) {
        EXPECT_EQ(headerValue(exchange.request, "Range").find(','), std::string::npos)
            << exchange.request;
    }
}

// One run to its end, as the cell's run always ends.
Ran runToTheEnd(KeyedPublication& published, const std::string& host) {
    Ran ran = runUpdater(published, host);
    EXPECT_EQ(ran.status, 0) << ran.said << ran.noted;
    return ran;
}

class ServerMatrix : public ::testing::TestWithParam<testsupport::Cell> {
protected:
    // Serves the publication, runs the updater and checks that it ended
    // exactly as the published release; what the run came to, for the
    // caller, and what the relay carried.
    std::pair<testsupport::RunOutcome, std::vector<Exchange>>
    updateThrough(KeyedPublication& published, const std::string& scenario,
                  std::uint64_t rate = 0) {
        testsupport::ServedThroughRelay served(GetParam(), published.web.path(), rate);
        const Ran ran = runToTheEnd(published, served.host());
        const std::vector<Exchange> exchanges = served.relay().exchanges();
        const std::string logs = served.logs();
        const std::uint64_t bytes = bytesOf(exchanges);
        const std::string fromOrigin =
            served.originLink() != nullptr
                ? " origin=" + std::to_string(served.originLink()->delivered())
                : std::string();
        keepEvidence(std::string(GetParam().name) + "-" + scenario,
                     "figures: bytes=" + std::to_string(bytes) + fromOrigin +
                         " package=" + std::to_string(fs::file_size(published.package)) + " " +
                         figure("seconds", ran.seconds) + "\nupdater:\n" + ran.said + "noted:\n" +
                         ran.noted + "relayed:\n" + describe(exchanges) + logs);
        expectSingleRanges(exchanges);
        EXPECT_EQ(filesBelow(published.install), filesBelow(published.release.path()))
            << ran.said << ran.noted << logs;
        const auto outcome = testsupport::lastRunOutcome(ran.said);
        EXPECT_TRUE(outcome) << ran.said;
        return {outcome.value_or(testsupport::RunOutcome{}), exchanges};
    }
};

TEST_P(ServerMatrix, FirstInstallOfASignedRelease) {
    KeyedPublication published;
    prepareFirstInstall(published);
    updateThrough(published, "first-install");
}

TEST_P(ServerMatrix, UpdateByTheChangedFiles) {
    KeyedPublication published;
    prepareChangedFiles(published);
    const auto [outcome, exchanges] = updateThrough(published, "changed-files", pacedRate);
    const std::uint64_t package = fs::file_size(published.package);
    std::vector<Exchange> whole;
    std::copy_if(exchanges.begin(), exchanges.end(), std::back_inserter(whole),
                 [](const Exchange& exchange) { return statusOf(exchange) == "200"; });
    if (GetParam().servesRanges) {
        EXPECT_EQ(outcome.as<Report::ChangedFiles>("changed"), Report::ChangedFiles::arrived);
        EXPECT_LT(bytesOf(exchanges), package / 4);
    } else {
        EXPECT_EQ(outcome.as<Report::ChangedFiles>("changed"), Report::ChangedFiles::fellBack);
        EXPECT_EQ(outcome.as<updater::FetchFailureKind>("fallback"),
                  updater::FetchFailureKind::rangesRefused);
        // The first range asked is answered with the whole file, which is
        // left at once; then the whole package comes, once.
        ASSERT_EQ(whole.size(), 3u) << describe(exchanges); // the version answer first
        EXPECT_NE(headerValue(whole[1].request, "Range"), "bytes=0-");
        EXPECT_LT(whole[1].fromServer, package / 4);
        EXPECT_EQ(headerValue(whole[2].request, "Range"), "bytes=0-");
        EXPECT_LT(bytesOf(exchanges), package + package / 4);
    }
}

// The download is killed once about a third of the package is kept; the
// next run asks for the rest where the cell serves ranges and takes the
// whole package again where it does not. A cache may go on fetching from
// its origin after the updater is gone: what counts is what the updater got.
TEST_P(ServerMatrix, ADownloadKilledPartWayGoesOn) {
    KeyedPublication published;
    prepareKilledDownload(published);
    const std::uint64_t package = fs::file_size(published.package);
    testsupport::ServedThroughRelay served(GetParam(), published.web.path(), pacedRate);
    const std::uint64_t kept = killOnceAThirdIsKept(published, served.host());
    ASSERT_GE(kept, package / 3);
    ASSERT_LT(kept, package);
    const std::vector<Exchange> killedRun = served.relay().exchanges();
    served.relay().setRate(0);
    const Ran ran = runToTheEnd(published, served.host());

    std::vector<Exchange> resumedRun = served.relay().exchanges();
    resumedRun.erase(resumedRun.begin(), resumedRun.begin() + static_cast<long>(killedRun.size()));
    const std::string logs = served.logs();
    const std::uint64_t killedBytes = bytesOf(killedRun);
    const std::uint64_t resumedBytes = bytesOf(resumedRun);
    keepEvidence(std::string(GetParam().name) + "-resume",
                 "figures: bytes=" + std::to_string(killedBytes + resumedBytes) +
                     " package=" + std::to_string(package) + " kept=" + std::to_string(kept) +
                     " killed-run=" + std::to_string(killedBytes) + " resumed-run=" +
                     std::to_string(resumedBytes) + " " + figure("seconds", ran.seconds) +
                     "\nupdater:\n" + ran.said + "noted:\n" + ran.noted + "relayed, killed run:\n" +
                     describe(killedRun) + "relayed, resumed run:\n" + describe(resumedRun) + logs);
    EXPECT_EQ(filesBelow(published.install), filesBelow(published.release.path()))
        << ran.said << ran.noted << logs;
    expectSingleRanges(killedRun);
    expectSingleRanges(resumedRun);

    // The package is asked for once, for the rest from the kept length.
    std::vector<Exchange> asked;
    std::copy_if(resumedRun.begin(), resumedRun.end(), std::back_inserter(asked), asksThePackage);
    ASSERT_EQ(asked.size(), 1u) << describe(resumedRun);
    EXPECT_EQ(headerValue(asked[0].request, "Range"), "bytes=" + std::to_string(kept) + "-");
    // Confirmed by a strong validator only: a weak ETag promises no bytes.
    EXPECT_FALSE(headerValue(asked[0].request, "If-Range").starts_with("W/"));
    // Hardly more than the rest comes where ranges are served (heads and
    // the version answer); the whole package where they are not.
    const std::uint64_t rest = package - kept;
    if (GetParam().servesRanges) {
        EXPECT_EQ(statusOf(asked[0]), "206") << asked[0].answer;
        EXPECT_GE(resumedBytes, rest);
        EXPECT_LT(resumedBytes, rest + 16 * 1024);
        // What the killed run carried past what it kept was in flight.
        EXPECT_LT(killedBytes - kept, package / 4);
    } else {
        EXPECT_EQ(statusOf(asked[0]), "200") << asked[0].answer;
        EXPECT_GE(resumedBytes, package);
        EXPECT_LT(resumedBytes, package + 16 * 1024);
    }
}

// The headers a client meets through the cell with the recommended
// settings, asked as a browser asks (compression welcome): the answer kept
// at most its lifetime, the package to be checked before each use, with a
// strong ETag, uncompressed, and a range answered with 206 (200 where
// ranges are refused).
TEST_P(ServerMatrix, RecommendedSettingsSayWhatTheyPromise) {
    KeyedPublication published;
    makeRelease(published.release.path(), 2);
    published.publish("1.3.2", {"--answer-lifetime", "7"});
    publishedAMinuteAgo(published.web.path());
    const std::unique_ptr<testsupport::Served> served =
        GetParam().serve(published.web.path(), testsupport::Settings::recommended);
    const auto headers = [&](const std::string& name, const std::string& range) {
        const std::string file = published.scratch / (name + range + ".headers");
        testsupport::ChildProcess curl(
            {"curl", "-s", "-o", "/dev/null", "-D", file, "-H", "Accept-Encoding: gzip, br", "-r",
             range, "http://" + served->host() + "/clientfiles/morvane/" + name},
            published.scratch / "curl.out");
        EXPECT_EQ(curl.exitStatusWithin(std::chrono::seconds(30)), 0);
        std::string text = readFile(file);
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    };
    const std::string answer = headers("version.php", "0-");
    const std::string package = headers("morvane.zip", "10-19");
    const std::string logs = served->logs();
    keepEvidence(std::string(GetParam().name) + "-headers", answer + package + logs);
    EXPECT_NE(answer.find("cache-control: max-age=7\r\n"), std::string::npos) << answer;
    EXPECT_EQ(package.rfind(GetParam().servesRanges ? "http/1.1 206" : "http/1.1 200", 0), 0U)
        << package;
    EXPECT_NE(package.find("cache-control: no-cache\r\n"), std::string::npos) << package;
    EXPECT_NE(package.find("etag: \""), std::string::npos) << package;
    EXPECT_EQ(package.find("content-encoding"), std::string::npos) << package;
}

// An origin with the recommended settings serves a file replaced a moment
// ago as it is now: lighttpd by its defaults answered with the bytes it had
// read within the same second, which put a new answer before an old package.
// A cache may keep the earlier file; that is what the lifetimes are for.
TEST_P(ServerMatrix, AnOriginServesAReplacedFileAsItIsNow) {
    if (GetParam().cache) {
        GTEST_SKIP() << "a cache keeps files by the settings' lifetimes";
    }
    KeyedPublication published;
    makeRelease(published.release.path(), 2);
    published.publish("1.3.2");
    const std::string folder = published.web.path() + "/clientfiles/morvane";
    const std::unique_ptr<testsupport::Served> served =
        GetParam().serve(published.web.path(), testsupport::Settings::recommended);
    const auto fetched = [&] {
        const std::string file = published.scratch / "replaced.out";
        testsupport::ChildProcess curl(
            {"curl", "-s", "-o", file,
             "http://" + served->host() + "/clientfiles/morvane/replaced"},
            published.scratch / "curl.out");
        EXPECT_EQ(curl.exitStatusWithin(std::chrono::seconds(30)), 0);
        return readFile(file);
    };
    // Each pair of replacements lies well within one second.
    for (int round = 0; round < 5; ++round) {
        const std::string before = "before " + std::to_string(round);
        const std::string after = "after, and longer " + std::to_string(round);
        for (const std::string& bytes : {before, after}) {
            writeFile(folder + "/replaced.new", bytes);
            std::filesystem::rename(folder + "/replaced.new", folder + "/replaced");
            EXPECT_EQ(fetched(), bytes) << "round " << round;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cells, ServerMatrix, ::testing::ValuesIn(testsupport::matrixCells()),
                         testsupport::CaseName());

} // namespace
