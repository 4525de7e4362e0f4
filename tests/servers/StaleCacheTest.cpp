// A release published while a cache still holds the one before it: with
// the publisher's recommended settings the new one is reached within the
// answer's lifetime and never mixed with the old; with each program's
// defaults the installation stays whole, a stale package behind a fresh
// answer refused as not the package announced (the log names a cache),
// until the cache is emptied.
#include "MatrixReleases.h"

#include "PublisherRun.h"
#include "fetch/PackageDownload.h"
#include "testsupport/CaseName.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/MatrixServers.h"
#include "testsupport/RunOutcome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace matrix;

// The seconds caches keep the version answer in the scenarios below, and a
// wait that outlasts it whatever the caches round to.
constexpr int answerLifetime = 1;
constexpr auto pastTheLifetime = std::chrono::seconds(answerLifetime + 2);

// The window's exit status when the run stopped with the window open: it
// found nothing newer, or refused what it found.
constexpr int windowLeftOpen = 4;

// Whether the run refused the package because its bytes were not the ones
// the answer announced, as a cache's earlier package is.
bool refusedAsStale(const std::string& said) {
    const auto outcome = testsupport::lastRunOutcome(said);
    return outcome && outcome->field("failure") == updater::packageNotAsAnnounced;
}

// What one run of the updater came to and what it said.
struct UpdaterRun {
    int status;
    std::string said;
    std::string noted; // what this run added to NoteError.txt
};

// Release A (1.3.1) published and installed through a cell, so that a cache
// holds its answer and package, then release B (1.3.2) published into the
// same served folder.
class StaleCache : public ::testing::TestWithParam<testsupport::Cell> {
protected:
    using Files = std::map<std::string, std::string>;

    void publishAndInstallA(testsupport::Settings settings) {
        makeRelease(m_published.release.path(), 1);
        m_published.publish("1.3.1", {"--answer-lifetime", std::to_string(answerLifetime)});
        m_a = filesBelow(m_published.release.path());
        testsupport::writeVersionedExecutable(m_published.install + "/morvane.exe", "1.2.0.5");
        m_served = GetParam().serve(m_published.web.path(), settings);
        const UpdaterRun first = run("install A");
        ASSERT_EQ(first.status, 0) << first.said << first.noted;
        ASSERT_EQ(differences(m_a, filesBelow(m_published.install)), "")
            << first.said << first.noted;
    }

    void publishB() {
        makeRelease(m_published.release.path(), 2);
        m_published.publish("1.3.2", {"--answer-lifetime", std::to_string(answerLifetime)});
        m_b = filesBelow(m_published.release.path());
    }

    UpdaterRun run(const std::string& what) {
        const std::string before = noteOf(m_published);
        UpdaterRun done{m_published.runUpdater(m_served->host()),
                        readFile(m_published.scratch / "updater.out"),
                        noteOf(m_published).substr(before.size())};
        m_evidence += "--- " + what + ": status " + std::to_string(done.status) + "\nupdater:\n" +
                      done.said + "noted:\n" + done.noted;
        return done;
    }

    // Which whole release the installation is, or what differs from A.
    std::string installed() const {
        const Files files = installedFiles(m_published.install);
        return files == m_a ? "A" : files == m_b ? "B" : "mixed:" + differences(m_a, files);
    }

    // Records the outcome of a run at once after B was published.
    void record(const std::string& outcome) { m_evidence += "=== outcome: " + outcome + "\n"; }

    void keep(const std::string& scenario) {
        keepEvidence(std::string(GetParam().name) + "-" + scenario,
                     m_evidence + (m_served ? m_served->logs() : std::string()));
    }

    KeyedPublication m_published;
    Files m_a;
    Files m_b;
    std::unique_ptr<testsupport::Served> m_served;
    std::string m_evidence;
};

// With the recommended settings a run at once leaves exactly A (a cache
// still answers A) or exactly B, never a refusal; once the answer's lifetime
// has passed, a run installs exactly B. (lighttpd by its defaults served a
// file replaced within the same second as it was: a new answer, then the
// old package, refused.)
TEST_P(StaleCache, RecommendedSettingsReachTheNewReleaseWithinTheLifetime) {
    ASSERT_NO_FATAL_FAILURE(publishAndInstallA(testsupport::Settings::recommended));
    publishB();
    const UpdaterRun atOnce = run("at once");
    const std::string outcome = installed();
    record(outcome);
    EXPECT_TRUE(outcome == "A" || outcome == "B") << outcome << atOnce.said << atOnce.noted;
    EXPECT_FALSE(refusedAsStale(atOnce.said)) << atOnce.said << atOnce.noted;
    std::this_thread::sleep_for(pastTheLifetime);
    const UpdaterRun later = run("after the lifetime");
    EXPECT_EQ(later.status, outcome == "B" ? windowLeftOpen : 0) << later.said << later.noted;
    EXPECT_EQ(installed(), "B") << later.said << later.noted;
    keep("stale-recommended");
}

// With each program's defaults a run at once leaves the installation whole:
// A as it was (the cache answers A, or the package it holds is refused as
// not the one announced) or exactly B; a fresh cache brings B.
class StaleCacheDefaults : public StaleCache {};

TEST_P(StaleCacheDefaults, LeaveTheInstallationWholeUntilTheCacheIsEmptied) {
    ASSERT_NO_FATAL_FAILURE(publishAndInstallA(testsupport::Settings::defaults));
    publishB();
    const UpdaterRun atOnce = run("at once");
    std::string outcome = installed();
    if (outcome == "A" && refusedAsStale(atOnce.said)) {
        outcome = "A, the stale package refused";
    } else if (outcome == "A") {
        EXPECT_EQ(atOnce.noted, "") << "A kept without a refusal: the cache answered A";
        outcome = "A, the cache still answering A";
    }
    record(outcome);
    EXPECT_NE(outcome.rfind("mixed", 0), 0U) << outcome << atOnce.said << atOnce.noted;
    m_evidence += m_served->logs();
    m_served = GetParam().serve(m_published.web.path(), testsupport::Settings::defaults);
    const UpdaterRun fresh = run("through a fresh cache");
    EXPECT_EQ(fresh.status, outcome == "B" ? windowLeftOpen : 0) << fresh.said << fresh.noted;
    EXPECT_EQ(installed(), "B") << fresh.said << fresh.noted;
    keep("stale-defaults");
}

INSTANTIATE_TEST_SUITE_P(Cells, StaleCache, ::testing::ValuesIn(testsupport::matrixCells()),
                         testsupport::CaseName());

// An origin alone keeps nothing: its defaults need no such scenario.
INSTANTIATE_TEST_SUITE_P(Caches, StaleCacheDefaults, ::testing::ValuesIn(testsupport::cacheCells()),
                         testsupport::CaseName());

// A stale package behind a fresh answer, made to happen: only the package
// of A is fetched through the cache, whole; B is published and its answer
// comes fresh. Varnish with its defaults keeps the package two minutes, and
// it is refused as not the package announced; with the recommended
// settings each cache passes the updater's ranges to the origin, and B is
// installed. (Squid's and Traffic Server's defaults keep a file published
// seconds ago for about no time, so they cannot be made to hold it.)
struct StalePackageCase {
    const char* name;
    std::size_t cell; // in matrixCells()
    testsupport::Settings settings;
    bool refused;
};

class StalePackage : public ::testing::TestWithParam<StalePackageCase> {};

TEST_P(StalePackage, BehindAFreshAnswerIsRefusedOrRevalidated) {
    const StalePackageCase& c = GetParam();
    const testsupport::Cell& cell = testsupport::matrixCells().at(c.cell);
    ASSERT_TRUE(cell.cache) << cell.name;
    KeyedPublication published;
    makeRelease(published.release.path(), 1);
    published.publish("1.3.1");
    const std::unique_ptr<testsupport::Served> served =
        cell.serve(published.web.path(), c.settings);
    testsupport::ChildProcess warm(
        {"curl", "-sf", "-o", "/dev/null",
         "http://" + served->host() + "/clientfiles/morvane/morvane.zip"},
        published.scratch / "curl.out");
    ASSERT_EQ(warm.exitStatusWithin(std::chrono::seconds(30)), 0)
        << readFile(published.scratch / "curl.out");
    makeRelease(published.install, 1);
    const auto a = filesBelow(published.install);
    makeRelease(published.release.path(), 2);
    published.publish("1.3.2");

    const int status = published.runUpdater(served->host());
    const std::string said = readFile(published.scratch / "updater.out");
    const std::string noted = noteOf(published);
    const std::string logs = served->logs();
    keepEvidence(std::string(cell.name) + "-stale-package-" + c.name,
                 "updater:\n" + said + "noted:\n" + noted + logs);
    if (c.refused) {
        EXPECT_EQ(status, windowLeftOpen) << said;
        EXPECT_TRUE(refusedAsStale(said)) << said << noted;
        EXPECT_EQ(differences(a, installedFiles(published.install)), "") << said << noted;
    } else {
        EXPECT_EQ(status, 0) << said << noted;
        EXPECT_EQ(differences(filesBelow(published.release.path()), filesBelow(published.install)),
                  "")
            << said << noted;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Caches, StalePackage,
    ::testing::Values(
        StalePackageCase{"VarnishDefaults", 4, testsupport::Settings::defaults, true},
        StalePackageCase{"VarnishRecommended", 4, testsupport::Settings::recommended, false},
        StalePackageCase{"SquidRecommended", 5, testsupport::Settings::recommended, false},
        StalePackageCase{"TrafficServerRecommended", 6, testsupport::Settings::recommended, false}),
    [](const ::testing::TestParamInfo<StalePackageCase>& named) { return named.param.name; });

} // namespace
