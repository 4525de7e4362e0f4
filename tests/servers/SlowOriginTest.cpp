// A package larger than Squid keeps by default (4 MiB), served through each
// cache with the recommended settings from an origin whose link carries
// 500 KB/s, as a distant publisher's does: two installations of the release
// before it are updated one after the other by their changed files. The
// origin serves the cache at most the package's bytes for both together,
// and each update goes by its chunks, never by the whole package after a
// wait its transfer gives up on. No range's first byte waits for the cache
// to fetch the package whole: from a package about six times as large the
// first range, its end, would stay silent past the updater's 30 s.
#include "MatrixReleases.h"

#include "PublisherRun.h"
#include "testsupport/CaseName.h"
#include "testsupport/MatrixServers.h"
#include "testsupport/PacedRelay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace matrix;
using Exchange = testsupport::PacedRelay::Exchange;

// The large file's size: its package is a little over 4 MiB.
constexpr std::size_t largeFileSize = 8 << 20;
constexpr std::uint64_t squidObjectLimit = 4 << 20;
constexpr std::uint64_t originRate = 500 * 1000;
// What the origin sends besides the package's bytes: the version answer and
// the heads of its answers, 304s included.
constexpr std::uint64_t headsAndAnswer = 16 * 1024;

bool asksThePackage(const Exchange& exchange) {
    return exchange.request.find("/morvane.zip ") != std::string::npos;
}

// The package asked whole: what the changed-files update falls back to.
bool asksTheWholePackage(const Exchange& exchange) {
    return asksThePackage(exchange) &&
           exchange.request.find("\r\nRange: bytes=0-\r\n") != std::string::npos;
}

// What the origin sent between a request of the package and the first byte
// of its answer's body; the whole package where no body came.
std::uint64_t originBeforeFirstByte(const Exchange& exchange, std::uint64_t package) {
    return exchange.originAtBody ? *exchange.originAtBody - exchange.originAtRequest : package;
}

class SlowOrigin : public ::testing::TestWithParam<testsupport::Cell> {};

TEST_P(SlowOrigin, TwoUpdatesCostTheOriginAtMostThePackage) {
    KeyedPublication published;
    makeRelease(published.release.path(), 2, largeFileSize);
    published.publish();
    publishedAMinuteAgo(published.web.path());
    const std::uint64_t package = fs::file_size(published.package);
    ASSERT_GT(package, squidObjectLimit);
    const std::vector<std::string> installs = {published.install, published.root / "Second"};
    for (const std::string& install : installs) {
        testsupport::TempDir::makeFolder(install);
        makeRelease(install, 1, largeFileSize);
    }

    testsupport::ServedThroughRelay served(GetParam(), published.web.path());
    served.originLink()->setRate(originRate);
    std::ostringstream evidence;
    std::size_t seen = 0;
    for (const std::string& install : installs) {
        const auto start = std::chrono::steady_clock::now();
        const int status = runUpdaterWindow(install, served.host(), published.key.publicKeyBase64,
                                            published.scratch / "updater.out");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::string said = readFile(published.scratch / "updater.out");
        const std::vector<Exchange> exchanges = served.relay().exchanges();
        const std::vector<Exchange> run(exchanges.begin() + static_cast<long>(seen),
                                        exchanges.end());
        seen = exchanges.size();
        std::uint64_t fetched = 0;
        std::uint64_t longestWait = 0;
        for (const Exchange& exchange : run) {
            fetched += exchange.fromServer;
            EXPECT_FALSE(asksTheWholePackage(exchange)) << exchange.request << said;
            if (asksThePackage(exchange)) {
                longestWait = std::max(longestWait, originBeforeFirstByte(exchange, package));
                EXPECT_LT(originBeforeFirstByte(exchange, package), package / 2)
                    << exchange.request << exchange.answer;
            }
        }
        evidence << "run: bytes=" << fetched << " origin-before-a-first-byte=" << longestWait
                 << " origin-so-far=" << served.originLink()->delivered()
                 << " seconds=" << std::fixed << std::setprecision(2) << seconds << "\n"
                 << said;
        EXPECT_EQ(status, 0) << said;
        EXPECT_EQ(differences(filesBelow(published.release.path()), filesBelow(install)), "")
            << said;
        EXPECT_LT(fetched, package / 4);
    }
    const std::uint64_t fromOrigin = served.originLink()->delivered();
    const std::string logs = served.logs();
    keepEvidence(std::string(GetParam().name) + "-slow-origin",
                 "figures: origin=" + std::to_string(fromOrigin) +
                     " package=" + std::to_string(package) + "\n" + evidence.str() + logs);
    EXPECT_LE(fromOrigin, package + headsAndAnswer) << logs;
}

INSTANTIATE_TEST_SUITE_P(Caches, SlowOrigin, ::testing::ValuesIn(testsupport::cacheCells()),
                         testsupport::CaseName());

} // namespace
