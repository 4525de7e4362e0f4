// A signed release served by each web server and cache publishers use,
// installed by the real updater in its real window: first as a whole
// package, then over the release before it by the changed files (a large
// file by its changed chunks). Each cell's logs are left in the artifact
// folder as the evidence of what it did.
#include "testsupport/MatrixServers.h"

#include "PublisherRun.h"
#include "testsupport/CaseName.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

constexpr std::size_t largeSize = 3 << 20;

// Release 1.3.n: its executable, small files and a large one that goes by
// chunks; each n changes a byte of the large file and one small file.
void makeRelease(const std::string& folder, int n) {
    testsupport::writeVersionedExecutable(folder + "/morvane.exe", "1.3.0." + std::to_string(n));
    chmod((folder + "/morvane.exe").c_str(), 0755);
    testsupport::TempDir::makeFolder(folder + "/data");
    std::string large = testsupport::halfTextHalfRandom(largeSize, 5);
    large[largeSize / 3] ^= static_cast<char>(n);
    writeFile(folder + "/data/large.bin", large);
    for (int file = 0; file < 4; ++file) {
        writeFile(folder + "/data/small" + std::to_string(file) + ".txt",
                  "small file " + std::to_string(file) + (file == 0 ? std::to_string(n) : "") +
                      "\n");
    }
}

std::map<std::string, std::string> filesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().filename() != "NoteError.txt") {
            files[fs::relative(entry.path(), folder).string()] = readFile(entry.path().string());
        }
    }
    return files;
}

// The installation's files but what a run that stopped keeps in its temp
// folder for the next (emptied by that run).
std::map<std::string, std::string> installedFiles(const std::string& install) {
    auto files = filesBelow(install);
    std::erase_if(files, [](const auto& file) { return file.first.starts_with("temp/"); });
    return files;
}

// The names whose content differs between two trees, for a failure message
// that does not print megabytes.
std::string differences(const std::map<std::string, std::string>& one,
                        const std::map<std::string, std::string>& other) {
    std::string names;
    for (const auto& [name, bytes] : one) {
        if (!other.contains(name) || other.at(name) != bytes) {
            names += " " + name;
        }
    }
    for (const auto& [name, bytes] : other) {
        if (!one.contains(name)) {
            names += " +" + name;
        }
    }
    return names;
}

// Leaves what the cell did where the run's artifacts go.
void keepEvidence(const std::string& name, const std::string& text) {
    const std::string folder = testsupport::artifactFolder() + "/servers";
    fs::create_directories(folder);
    writeFile(folder + "/" + name + ".log", text);
}

std::string noteOf(const KeyedPublication& published) {
    return testsupport::exists(published.install + "/NoteError.txt")
               ? readFile(published.install + "/NoteError.txt")
               : std::string();
}

class ServerMatrix : public ::testing::TestWithParam<testsupport::Cell> {
protected:
    // Serves the publication with the recommended settings, runs the
    // updater and checks that it ended exactly as the published release;
    // what it logged, for the caller.
    std::string updateThrough(KeyedPublication& published, const std::string& scenario) {
        const std::unique_ptr<testsupport::Served> served =
            GetParam().serve(published.web.path(), testsupport::Settings::recommended);
        const int status = published.runUpdater(served->host());
        const std::string said = readFile(published.scratch / "updater.out");
        const std::string noted = noteOf(published);
        const std::string logs = served->logs();
        keepEvidence(std::string(GetParam().name) + "-" + scenario,
                     "updater:\n" + said + "noted:\n" + noted + logs);
        EXPECT_EQ(status, 0) << said << noted << logs;
        EXPECT_EQ(filesBelow(published.install), filesBelow(published.release.path()))
            << said << noted << logs;
        return noted;
    }
};

TEST_P(ServerMatrix, FirstInstallOfASignedRelease) {
    KeyedPublication published;
    makeRelease(published.release.path(), 2);
    published.publish();
    testsupport::writeVersionedExecutable(published.install + "/morvane.exe", "1.2.0.5");
    updateThrough(published, "first-install");
}

TEST_P(ServerMatrix, UpdateByTheChangedFiles) {
    KeyedPublication published;
    makeRelease(published.release.path(), 2);
    published.publish();
    makeRelease(published.install, 1);
    const std::string noted = updateThrough(published, "changed-files");
    EXPECT_EQ(noted.find("fetching only the files that changed did not work"), std::string::npos)
        << noted;
}

// The headers a client meets through the cell with the recommended
// settings, asked as a browser asks (compression welcome): the answer kept
// at most its lifetime, the package to be checked before each use, with a
// strong ETag, uncompressed, and a range answered with 206.
TEST_P(ServerMatrix, RecommendedSettingsSayWhatTheyPromise) {
    KeyedPublication published;
    makeRelease(published.release.path(), 2);
    published.publish("1.3.2", {"--answer-lifetime", "7"});
    // Apache makes the ETag of a file changed within the last second weak;
    // the files are as old as a publisher's are when users come.
    for (const std::string& file :
         {published.package, published.web / "clientfiles/morvane/version.php"}) {
        fs::last_write_time(file, fs::last_write_time(file) - std::chrono::minutes(1));
    }
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
    EXPECT_EQ(package.rfind("http/1.1 206", 0), 0U) << package;
    EXPECT_NE(package.find("cache-control: no-cache\r\n"), std::string::npos) << package;
    EXPECT_NE(package.find("etag: \""), std::string::npos) << package;
    EXPECT_EQ(package.find("content-encoding"), std::string::npos) << package;
}

INSTANTIATE_TEST_SUITE_P(Cells, ServerMatrix, ::testing::ValuesIn(testsupport::matrixCells()),
                         testsupport::CaseName());

// The seconds caches keep the version answer in the scenarios below, and a
// wait that outlasts it whatever the caches round to.
constexpr int answerLifetime = 1;
constexpr auto pastTheLifetime = std::chrono::seconds(answerLifetime + 2);

// The window's exit status when the run stopped with the window open: it
// found nothing newer, or refused what it found.
constexpr int windowLeftOpen = 4;

const char* const staleSentence =
    "a cache between here and the publisher may still hold an earlier package, so the next run "
    "may find the right one";

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
// still answers A, or lighttpd, which keeps what it read of a file about a
// second) or exactly B, never a refusal; once the answer's lifetime has
// passed, a run installs exactly B.
TEST_P(StaleCache, RecommendedSettingsReachTheNewReleaseWithinTheLifetime) {
    ASSERT_NO_FATAL_FAILURE(publishAndInstallA(testsupport::Settings::recommended));
    publishB();
    const UpdaterRun atOnce = run("at once");
    const std::string outcome = installed();
    record(outcome);
    EXPECT_TRUE(outcome == "A" || outcome == "B") << outcome << atOnce.said << atOnce.noted;
    EXPECT_EQ(atOnce.noted.find(staleSentence), std::string::npos) << atOnce.noted;
    std::this_thread::sleep_for(pastTheLifetime);
    const UpdaterRun later = run("after the lifetime");
    EXPECT_EQ(later.status, outcome == "B" ? windowLeftOpen : 0) << later.said << later.noted;
    EXPECT_EQ(installed(), "B") << later.said << later.noted;
    keep("stale-recommended");
}

// With each program's defaults a run at once leaves the installation whole:
// A as it was (the cache answers A, or the package it holds is refused with
// the sentence that names a cache) or exactly B; a fresh cache brings B.
class StaleCacheDefaults : public StaleCache {};

TEST_P(StaleCacheDefaults, LeaveTheInstallationWholeUntilTheCacheIsEmptied) {
    ASSERT_NO_FATAL_FAILURE(publishAndInstallA(testsupport::Settings::defaults));
    publishB();
    const UpdaterRun atOnce = run("at once");
    std::string outcome = installed();
    if (outcome == "A" && atOnce.noted.find(staleSentence) != std::string::npos) {
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
std::vector<testsupport::Cell> cacheCells() {
    std::vector<testsupport::Cell> caches;
    std::copy_if(testsupport::matrixCells().begin(), testsupport::matrixCells().end(),
                 std::back_inserter(caches),
                 [](const testsupport::Cell& cell) { return cell.cache; });
    return caches;
}

INSTANTIATE_TEST_SUITE_P(Caches, StaleCacheDefaults, ::testing::ValuesIn(cacheCells()),
                         testsupport::CaseName());

// A stale package behind a fresh answer, made to happen: only the package
// of A is fetched through the cache, whole; B is published and its answer
// comes fresh. Varnish with its defaults keeps the package two minutes, and
// it is refused with the sentence that names a cache; with the recommended
// settings each cache asks the origin before using what it keeps, and B is
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
        EXPECT_NE(noted.find("the package was refused: "), std::string::npos) << noted;
        EXPECT_NE(noted.find(staleSentence), std::string::npos) << noted;
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
