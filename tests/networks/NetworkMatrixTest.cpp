// A signed release served by nginx and installed by the real updater in its
// real window over each route a user's network gives: the three runs of the
// server matrix (a first install, an update by the changed files, a
// download killed part way and gone on with) where the route works, and a
// first install that leaves the installation as it was, with the kind of
// failure named, where it cannot. No run shows the proxy's password. What
// each route did (the updater's words, its log, every server's access log)
// is left in the artifact folder.
#include "MatrixRuns.h"
#include "NetworkRoutes.h"
#include "run/UpdateRun.h"
#include "testsupport/CaseName.h"
#include "testsupport/RunOutcome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace matrix;
using networks::Network;
using networks::Route;
using Report = updater::UpdateRun::Report;
using testsupport::LoggedRequest;

const std::string authorityFile = "updater-ca.pem";

bool asksThePackage(const LoggedRequest& request) {
    return request.path.ends_with("/morvane.zip");
}

std::vector<LoggedRequest> packageRequests(const std::vector<LoggedRequest>& requests) {
    std::vector<LoggedRequest> asked;
    std::copy_if(requests.begin(), requests.end(), std::back_inserter(asked), asksThePackage);
    return asked;
}

std::uint64_t bytesOf(const std::vector<LoggedRequest>& requests) {
    std::uint64_t bytes = 0;
    for (const LoggedRequest& request : requests) {
        bytes += request.bytes;
    }
    return bytes;
}

// The installation's files but the authority put beside the updater.
std::map<std::string, std::string> installedRelease(const std::string& install) {
    auto files = filesBelow(install);
    files.erase(authorityFile);
    return files;
}

// The route's network started for a publication, with the authority it
// names put beside the updater.
struct RouteRun {
    Network network;

    RouteRun(const Route& route, KeyedPublication& published) : network(published.web.path()) {
        route.build(network);
        if (!network.trusted.empty()) {
            std::filesystem::copy_file(network.trusted, published.install + "/" + authorityFile);
        }
    }

    Ran run(KeyedPublication& published) {
        return runUpdater(published, network.host, network.environment);
    }
};

// No word the updater said or noted shows the proxy's password.
void expectNoPassword(const KeyedPublication& published, const Ran& ran) {
    for (const std::string& text : {ran.said, ran.noted,
                                    testsupport::exists(published.scratch / "killed.out")
                                        ? readFile(published.scratch / "killed.out")
                                        : std::string()}) {
        EXPECT_EQ(text.find(networks::proxyPassword), std::string::npos) << text;
    }
}

// The proxy a route names carried the update: the package asked of it, or
// a tunnel (whose requests it cannot see) opened through it.
void expectCarriedByTheProxy(const testsupport::SquidProxy* proxy, const std::string& logs) {
    if (proxy == nullptr) {
        return;
    }
    const std::string log = proxy->accessLog();
    EXPECT_TRUE(log.find("/clientfiles/morvane/morvane.zip") != std::string::npos ||
                log.find(" CONNECT 127.0.0.1:") != std::string::npos)
        << logs;
}

// The installation holds exactly the published release.
void expectTheRelease(const KeyedPublication& published, const Ran& ran, const std::string& logs) {
    const auto installed = installedRelease(published.install);
    const auto release = filesBelow(published.release.path());
    EXPECT_TRUE(installed == release) << "differing:" << differences(installed, release) << "\n"
                                      << ran.said << ran.noted << logs;
}

std::string evidence(const Ran& ran, const std::string& logs) {
    return figure("seconds", ran.seconds) + "\nupdater (status " + std::to_string(ran.status) +
           "):\n" + ran.said + "noted:\n" + ran.noted + logs;
}

// What a reference client made of the route: curl (which reads the same
// proxy variables as the updater) asking the version answer, or, where the
// desktop's settings name the proxy, the proxy library's own tool asked
// which proxy they name for it.
struct ReferenceRun {
    int status = -1;
    std::string got;
    std::string said;   // the client's complaints
    std::string answer; // the version answer as published
    std::string logs;   // every server's
    bool desktop = false;
    std::string desktopProxy; // the proxy the desktop's settings should name
};

ReferenceRun askTheVersionAnswer(KeyedPublication& published, Network& network) {
    const std::string host = network.host;
    const std::string url = (host.find("://") == std::string::npos ? "http://" : "") + host +
                            "/clientfiles/morvane/version.php";
    const std::string got = published.scratch / "reference.out";
    const bool desktop = network.environment.added.contains("DESKTOP_SESSION");
    // Redirects followed to secure addresses only: none goes from secure to plain.
    std::vector<std::string> command{"curl", "-sS", "-L", "--proto-redir", "=https", "-o", got};
    if (desktop) {
        testsupport::writeFile(published.scratch / "reference.in", url + "\n");
        command = {"sh", "-c", "proxy < " + published.scratch / "reference.in" + " > " + got};
    } else if (!network.trusted.empty()) {
        command.insert(command.end(), {"--cacert", network.trusted});
    }
    if (!desktop) {
        command.push_back(url);
    }
    testsupport::ChildProcess client(command, published.scratch / "reference.log",
                                     network.environment);
    ReferenceRun run;
    run.status = client.exitStatusWithin(std::chrono::seconds(30));
    run.got = testsupport::exists(got) ? readFile(got) : std::string();
    run.said = readFile(published.scratch / "reference.log");
    run.answer = readFile(published.web / "clientfiles/morvane/version.php");
    run.desktop = desktop;
    if (network.proxy() != nullptr) {
        run.desktopProxy = network.proxy()->url();
    }
    return run;
}

// The reference client over a route made for a first install.
ReferenceRun askOver(const Route& route) {
    KeyedPublication published;
    prepareFirstInstall(published);
    RouteRun routeRun(route, published);
    ReferenceRun run = askTheVersionAnswer(published, routeRun.network);
    run.logs = routeRun.network.logs();
    keepEvidence(std::string(route.name) + "-reference",
                 "client exit " + std::to_string(run.status) + "\n" + run.said + run.got + "\n" +
                     run.logs,
                 "networks");
    return run;
}

class NetworkRoutes : public ::testing::TestWithParam<Route> {
protected:
    // Runs the updater to its end over the route and checks that it left
    // exactly the published release; what the run came to and what the
    // origin served.
    std::pair<testsupport::RunOutcome, std::vector<LoggedRequest>>
    updateOver(KeyedPublication& published, const std::string& scenario) {
        RouteRun route(GetParam(), published);
        const Ran ran = route.run(published);
        testsupport::NginxServer& origin = *route.network.origin();
        testsupport::SquidProxy* proxy = route.network.proxy();
        const std::string logs = route.network.logs();
        keepEvidence(std::string(GetParam().name) + "-" + scenario, evidence(ran, logs),
                     "networks");
        EXPECT_EQ(ran.status, 0) << ran.said << ran.noted << logs;
        expectNoPassword(published, ran);
        expectTheRelease(published, ran, logs);
        expectCarriedByTheProxy(proxy, logs);
        const auto outcome = testsupport::lastRunOutcome(ran.said);
        EXPECT_TRUE(outcome) << ran.said;
        return {outcome.value_or(testsupport::RunOutcome{}), origin.requests()};
    }
};

TEST_P(NetworkRoutes, FirstInstallOfASignedRelease) {
    KeyedPublication published;
    prepareFirstInstall(published);
    const auto [outcome, requests] = updateOver(published, "first-install");
    // The package came whole from nginx over the route, once.
    const auto asked = packageRequests(requests);
    EXPECT_EQ(std::count_if(asked.begin(), asked.end(),
                            [&](const LoggedRequest& request) {
                                return request.bytes == fs::file_size(published.package);
                            }),
              1);
}

TEST_P(NetworkRoutes, UpdateByTheChangedFiles) {
    KeyedPublication published;
    prepareChangedFiles(published);
    const auto [outcome, requests] = updateOver(published, "changed-files");
    EXPECT_EQ(outcome.as<Report::ChangedFiles>("changed"), Report::ChangedFiles::arrived);
    EXPECT_LT(bytesOf(packageRequests(requests)), fs::file_size(published.package) / 4);
}

// The download is killed once about a third of the package is kept, the
// route's link to nginx paced; the next run asks for the rest and gets it.
TEST_P(NetworkRoutes, ADownloadKilledPartWayGoesOn) {
    KeyedPublication published;
    prepareKilledDownload(published);
    const std::uint64_t package = fs::file_size(published.package);
    RouteRun route(GetParam(), published);
    testsupport::PacedRelay* link = route.network.relay();
    if (link == nullptr) {
        GTEST_SKIP() << "no relay paces this route";
    }
    link->setRate(pacedRate);
    const std::uint64_t kept =
        killOnceAThirdIsKept(published, route.network.host, route.network.environment);
    link->setRate(0);
    const Ran ran = route.run(published);
    testsupport::NginxServer& origin = *route.network.origin();
    const std::string logs = route.network.logs();
    expectCarriedByTheProxy(route.network.proxy(), logs);
    keepEvidence(std::string(GetParam().name) + "-resume",
                 "figures: package=" + std::to_string(package) + " kept=" + std::to_string(kept) +
                     " " + evidence(ran, logs),
                 "networks");
    EXPECT_EQ(ran.status, 0) << ran.said << ran.noted << logs;
    expectNoPassword(published, ran);
    ASSERT_GE(kept, package / 3) << logs;
    ASSERT_LT(kept, package) << logs;
    expectTheRelease(published, ran, logs);

    // The rest was asked for from the kept length, and came whole.
    const auto asked = packageRequests(origin.requests());
    const auto rest = std::find_if(asked.begin(), asked.end(), [&](const LoggedRequest& request) {
        return request.range == "bytes=" + std::to_string(kept) + "-";
    });
    ASSERT_NE(rest, asked.end()) << logs;
    EXPECT_EQ(rest->status, 206) << logs;
    EXPECT_EQ(rest->bytes, package - kept) << logs;
}

// The route itself is sound: a reference client gets the version answer
// over it (or, for the desktop's settings, is told to use its proxy).
TEST_P(NetworkRoutes, AReferenceClientGoesThrough) {
    const ReferenceRun run = askOver(GetParam());
    EXPECT_EQ(run.status, 0) << run.said << run.logs;
    if (run.desktop) {
        EXPECT_EQ(run.got, run.desktopProxy + "\n") << run.logs;
    } else {
        EXPECT_EQ(run.got, run.answer) << run.logs;
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, NetworkRoutes, ::testing::ValuesIn(networks::workingRoutes()),
                         testsupport::CaseName());

class NetworkFailures : public ::testing::TestWithParam<Route> {};

// Over a route that cannot work, the installation stays as it was and the
// run names the kind of failure (and the issuer of a refused certificate,
// which an administrator needs to tell the network's from the publisher's).
TEST_P(NetworkFailures, NothingIsInstalledAndTheReasonIsNamed) {
    KeyedPublication published;
    prepareFirstInstall(published);
    RouteRun route(GetParam(), published);
    const auto before = installedFiles(published.install);
    const Ran ran = route.run(published);
    const std::string logs = route.network.logs();
    keepEvidence(std::string(GetParam().name) + "-refused", evidence(ran, logs), "networks");
    expectNoPassword(published, ran);
    const auto after = installedFiles(published.install);
    EXPECT_TRUE(after == before) << "changed:" << differences(before, after);
    // Not a byte of the package went the refused way.
    if (route.network.origin() != nullptr) {
        EXPECT_TRUE(packageRequests(route.network.origin()->requests()).empty()) << logs;
    }
    const auto outcome = testsupport::lastRunOutcome(ran.said);
    ASSERT_TRUE(outcome) << ran.said;
    EXPECT_EQ(outcome->field("installed"), 0) << ran.said;
    EXPECT_EQ(outcome->as<platform::NetworkFailureKind>("network"), GetParam().failure)
        << ran.said << ran.noted << logs;
    if (GetParam().refusedIssuer) {
        EXPECT_NE(ran.noted.find(route.network.authority(*GetParam().refusedIssuer).name()),
                  std::string::npos)
            << ran.noted;
    }
}

// The route fails for a reference client too: what fails the updater is
// the network, not a fault of the test's servers.
TEST_P(NetworkFailures, AReferenceClientDoesNotGetTheAnswerEither) {
    const ReferenceRun run = askOver(GetParam());
    EXPECT_NE(run.got, run.answer) << run.logs;
}

INSTANTIATE_TEST_SUITE_P(Routes, NetworkFailures, ::testing::ValuesIn(networks::failingRoutes()),
                         testsupport::CaseName());

} // namespace
