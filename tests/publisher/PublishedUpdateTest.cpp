// The whole loop: a release published by the tool, served by nginx on
// loopback, installed by the real updater in its real window, which checks
// the publisher's signature.
#include "PublisherRun.h"

#include "fetch/PackageDownload.h"
#include "platform/files/DiskFileSystem.h"
#include "run/UpdateRun.h"

#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/PythonHttpServer.h"
#include "testsupport/RunOutcome.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;
using Report = updater::UpdateRun::Report;
using Check = updater::UpdateRun::Check;

// Every file below a folder with its bytes, by its path relative to it.
std::map<std::string, std::string> filesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), folder).string()] = readFile(entry.path().string());
        }
    }
    return files;
}

bool executable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

TEST(PublishedUpdate, UpdaterInstallsExactlyThePublishedRelease) {
    testsupport::TempDir release;
    testsupport::TempDir web;
    testsupport::TempDir root;
    testsupport::TempDir scratch;

    testsupport::writeVersionedExecutable(release / "morvane.exe", "1.3.0.0");
    chmod((release / "morvane.exe").c_str(), 0755);
    for (const char* folder : {"bin", "docs", "docs/guide", "docs/guide/images"}) {
        testsupport::TempDir::makeFolder(release / folder);
    }
    writeFile(release / "bin/helper.sh", "#!/bin/sh\necho helper\n");
    chmod((release / "bin/helper.sh").c_str(), 0755);
    writeFile(release / "docs/readme.txt", "Morvane 1.3.0\r\n");
    writeFile(release / "docs/guide/start.html", "<p>start</p>\n");
    writeFile(release / "docs/guide/images/logo.bin", std::string("\x89PNG\0\x01", 6));

    // Signed by the publisher, installed by an updater built with its key.
    const testsupport::PublisherKey key = testsupport::makePublisherKey(scratch / "key.pem");
    const PublisherRun published =
        runPublisher({"--key", key.privateKeyFile, release.path(), "1.3.0", web.path()},
                     scratch / "publish.out");
    ASSERT_EQ(published.status, 0) << published.output;

    const std::string install = root / "Morvane";
    testsupport::TempDir::makeFolder(install);
    testsupport::writeVersionedExecutable(install + "/morvane.exe", "1.2.0.5");
    chmod((install + "/morvane.exe").c_str(), 0755);

    testsupport::NginxServer nginx(web.path());
    testsupport::ChildProcess updater(
        {QT_UPDATE_CHILD, install, nginx.host(), REAL_UNZIP32_FOLDER, "", key.publicKeyBase64},
        scratch / "updater.out");
    const int status = updater.exitStatusWithin(std::chrono::seconds(60));

    ASSERT_EQ(status, 0) << readFile(scratch / "updater.out");
    EXPECT_EQ(filesBelow(install), filesBelow(release.path()));
    EXPECT_TRUE(executable(install + "/morvane.exe"));
    EXPECT_TRUE(executable(install + "/bin/helper.sh"));
    EXPECT_FALSE(executable(install + "/docs/readme.txt"));
    // The version, the package's directory (here the whole small package,
    // so its manifest is not worth fetching apart), and then the whole
    // package.
    nginx.stop();
    const std::string log = nginx.accessLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
    EXPECT_NE(log.find("\"bytes=0-\""), std::string::npos) << log;
}

// A replayed, still valid answer for an older release whose files the
// installation mostly shares: a keyed updater offers nothing, fetches
// nothing of the package by either way, and logs the older version offered.
TEST(PublishedUpdate, AnOlderSignedReleaseIsNeitherOfferedNorFetched) {
    testsupport::TempDir older;
    testsupport::TempDir web;
    testsupport::TempDir root;
    testsupport::TempDir scratch;
    const auto fillRelease = [](const std::string& folder, const std::string& version) {
        testsupport::writeVersionedExecutable(folder + "/morvane.exe", version);
        chmod((folder + "/morvane.exe").c_str(), 0755);
        for (int file = 0; file < 10; ++file) {
            writeFile(folder + "/lib" + std::to_string(file) + ".so",
                      std::string(64 * 1024, static_cast<char>('a' + file)));
        }
    };
    fillRelease(older.path(), "1.3.0.5");
    const testsupport::PublisherKey key = testsupport::makePublisherKey(scratch / "key.pem");
    ASSERT_EQ(runPublisher({"--key", key.privateKeyFile, older.path(), "1.3.5", web.path()},
                           scratch / "publish.out")
                  .status,
              0);
    const std::string install = root / "Morvane";
    testsupport::TempDir::makeFolder(install);
    fillRelease(install, "1.4.0.0");
    testsupport::NginxServer nginx(web.path());
    testsupport::ChildProcess updater(
        {QT_UPDATE_CHILD, install, nginx.host(), REAL_UNZIP32_FOLDER, "", key.publicKeyBase64},
        scratch / "updater.out");

    ASSERT_EQ(updater.exitStatusWithin(std::chrono::seconds(60)), 4)
        << readFile(scratch / "updater.out");
    const std::string said = readFile(scratch / "updater.out");
    const auto outcome = testsupport::lastRunOutcome(said);
    ASSERT_TRUE(outcome) << said;
    // A trusted answer that offers nothing: the latest version, and a note.
    EXPECT_EQ(outcome->as<Check>("check"), Check::latest) << said;
    EXPECT_EQ(outcome->as<signature::AnswerVerdict>("answer"), signature::AnswerVerdict::verified);
    EXPECT_EQ(platform::DiskFileSystem().GetFileVersion(install + "/morvane.exe"), "1.4.0.0");
    EXPECT_TRUE(fs::exists(install + "/NoteError.txt"));
    nginx.stop();
    const std::string log = nginx.accessLog();
    EXPECT_EQ(log.find("morvane.zip"), std::string::npos) << log;
}

// A publisher who forgets to renew the version answer: the keyed updater
// shows the unreachable server's box and logs that the answer expired, with
// both clocks; one --renew later the same package installs.
TEST(PublishedUpdate, AnExpiredAnswerIsRefusedUntilThePublisherRenewsIt) {
    testsupport::TempDir release;
    testsupport::TempDir web;
    testsupport::TempDir root;
    testsupport::TempDir scratch;
    testsupport::writeVersionedExecutable(release / "morvane.exe", "1.3.0.0");
    const testsupport::PublisherKey key = testsupport::makePublisherKey(scratch / "key.pem");
    ASSERT_EQ(runPublisher({"--key", key.privateKeyFile, release.path(), "1.3.0", web.path()},
                           scratch / "publish.out")
                  .status,
              0);
    // The same answer as it reads a day after it ran out.
    const std::string answerPath = web / "clientfiles/morvane/version.php";
    const std::string package = web / "clientfiles/morvane/morvane.zip";
    const auto identity = signature::identifyPackage(package);
    writeFile(answerPath,
              "1.3.0\r\n" + signature::formatReleaseLine(signature::signRelease(
                                "1.3.0", identity.size, identity.sha512, std::time(nullptr) - 86400,
                                signature::SigningKey::fromFile(key.privateKeyFile))));
    const std::string install = root / "Morvane";
    testsupport::TempDir::makeFolder(install);
    testsupport::writeVersionedExecutable(install + "/morvane.exe", "1.2.0.5");
    testsupport::NginxServer nginx(web.path());
    const auto runUpdater = [&] {
        testsupport::ChildProcess updater(
            {QT_UPDATE_CHILD, install, nginx.host(), REAL_UNZIP32_FOLDER, "", key.publicKeyBase64},
            scratch / "updater.out");
        return updater.exitStatusWithin(std::chrono::seconds(60));
    };

    ASSERT_EQ(runUpdater(), 4) << readFile(scratch / "updater.out");
    // No usable answer, and why: it expired (the box and the log say so,
    // with both clocks).
    const auto outcome = testsupport::lastRunOutcome(readFile(scratch / "updater.out"));
    ASSERT_TRUE(outcome) << readFile(scratch / "updater.out");
    EXPECT_EQ(outcome->as<Check>("check"), Check::unreachable);
    EXPECT_EQ(outcome->as<signature::AnswerVerdict>("answer"), signature::AnswerVerdict::expired);
    EXPECT_TRUE(fs::exists(install + "/NoteError.txt"));

    const PublisherRun renewed = runPublisher(
        {"--key", key.privateKeyFile, "--renew", web.path(), "1.3.0"}, scratch / "renew.out");
    ASSERT_EQ(renewed.status, 0) << renewed.output;
    ASSERT_EQ(runUpdater(), 0) << readFile(scratch / "updater.out");
    EXPECT_EQ(readFile(install + "/morvane.exe"), readFile(release / "morvane.exe"));
}

// Key rotation: the last release signed by the old key carries an updater
// built with the new one, which replaces the running updater's own file.
// From then on only what the new key signs installs. (The installed
// updater here is a launcher that starts the test's program with its key,
// as a build with that key would have it.)
TEST(PublishedUpdate, AReleaseSignedByTheOldKeyCarriesTheUpdaterOfTheNewKey) {
    testsupport::TempDir web;
    testsupport::TempDir root;
    testsupport::TempDir scratch;
    const auto oldKey = testsupport::makePublisherKey(scratch / "old.pem");
    const auto newKey = testsupport::makePublisherKey(scratch / "new.pem");
    testsupport::NginxServer nginx(web.path());
    const std::string install = root / "Morvane";
    const auto updaterFiles = [&](const std::string& folder, const testsupport::PublisherKey& key) {
        writeFile(folder + "/updater", "#!/bin/sh\nexec \"$(dirname \"$0\")/updater-program\" '" +
                                           install + "' '" + nginx.host() + "' '" +
                                           REAL_UNZIP32_FOLDER + "' '' '" + key.publicKeyBase64 +
                                           "'\n");
        writeFile(folder + "/updater-program", readFile(QT_UPDATE_CHILD));
        chmod((folder + "/updater").c_str(), 0755);
        chmod((folder + "/updater-program").c_str(), 0755);
    };
    const auto publish = [&](const std::string& version, const testsupport::PublisherKey& signer,
                             const testsupport::PublisherKey& carried,
                             std::vector<std::string> arguments = {}) {
        testsupport::TempDir release;
        testsupport::writeVersionedExecutable(release / "morvane.exe", version + ".0");
        updaterFiles(release.path(), carried);
        arguments.insert(arguments.end(),
                         {"--key", signer.privateKeyFile, release.path(), version, web.path()});
        const PublisherRun run = runPublisher(arguments, scratch / "publish.out");
        ASSERT_EQ(run.status, 0) << run.output;
    };
    const auto runInstalledUpdater = [&] {
        testsupport::ChildProcess updater({install + "/updater"}, scratch / "updater.out");
        return updater.exitStatusWithin(std::chrono::seconds(60));
    };
    const auto installedVersion = [&] {
        return platform::DiskFileSystem().GetFileVersion(install + "/morvane.exe");
    };
    testsupport::TempDir::makeFolder(install);
    testsupport::writeVersionedExecutable(install + "/morvane.exe", "1.2.0.5");
    updaterFiles(install, oldKey);

    publish("1.3.0", oldKey, newKey);
    ASSERT_EQ(runInstalledUpdater(), 0) << readFile(scratch / "updater.out");
    EXPECT_EQ(installedVersion(), "1.3.0.0");
    EXPECT_NE(readFile(install + "/updater").find(newKey.publicKeyBase64), std::string::npos);

    // The old key no longer installs anything.
    publish("1.4.0", oldKey, newKey);
    EXPECT_EQ(runInstalledUpdater(), 4) << readFile(scratch / "updater.out");
    EXPECT_EQ(installedVersion(), "1.3.0.0");
    EXPECT_NE(readFile(install + "/NoteError.txt").find("signed by another key"),
              std::string::npos);

    // The served release is the old key's: the new one replaces it only
    // when the publisher says so.
    publish("1.4.0", newKey, newKey, {"--replace-key"});
    ASSERT_EQ(runInstalledUpdater(), 0) << readFile(scratch / "updater.out");
    EXPECT_EQ(installedVersion(), "1.4.0.0");
}

// An installation of an earlier release fetches only the files that differ
// from the published one and ends exactly as the release: from the release
// before, from two releases back, with a file changed by hand (fetched
// too), and from a server that ignores ranges (the whole package, quietly).
// A package changed on the server after it was signed installs nothing
// either way, and the log says why both ways failed.
TEST(PublishedUpdate, OnlyTheChangedFilesTravelAndTheReleaseLandsExactly) {
    testsupport::TempDir web;
    testsupport::TempDir scratch;
    const testsupport::PublisherKey key = testsupport::makePublisherKey(scratch / "key.pem");
    // Release n changes files 3n and 3n + 1 of the one before and adds one.
    const auto makeRelease = [](const std::string& folder, int n) {
        testsupport::writeVersionedExecutable(folder + "/morvane.exe",
                                              "1.3.0." + std::to_string(n));
        chmod((folder + "/morvane.exe").c_str(), 0755);
        testsupport::TempDir::makeFolder(folder + "/data");
        for (int file = 0; file < 20 + n; ++file) {
            const bool changed = file < 20 && file / 3 >= 1 && file / 3 <= n;
            std::string bytes(40 * 1024, '\0');
            std::mt19937 random(static_cast<unsigned>(file * 100 + (changed ? 1 : 0)));
            std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
            writeFile(folder + "/data/f" + std::to_string(file) + ".bin", bytes);
        }
    };
    std::vector<std::unique_ptr<testsupport::TempDir>> releases;
    for (int n = 0; n < 3; ++n) {
        releases.push_back(std::make_unique<testsupport::TempDir>());
        makeRelease(releases.back()->path(), n);
    }
    const PublisherRun published =
        runPublisher({"--key", key.privateKeyFile, releases[2]->path(), "1.3.2", web.path()},
                     scratch / "publish.out");
    ASSERT_EQ(published.status, 0) << published.output;
    const auto packageSize = fs::file_size(web / "clientfiles/morvane/morvane.zip");
    const struct {
        const char* what;
        int installed; // the release installed before
        bool changedByHand;
        bool ranges; // the server answers ranges
    } cases[] = {
        {"the release before", 1, false, true},
        {"two releases back", 0, false, true},
        {"a file changed by hand", 1, true, true},
        {"a server without ranges", 1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir root;
        const std::string install = root / "Morvane";
        fs::copy(releases[c.installed]->path(), install, fs::copy_options::recursive);
        if (c.changedByHand) {
            writeFile(install + "/data/f5.bin", "changed by hand");
        }
        std::optional<testsupport::NginxServer> nginx;
        std::optional<testsupport::PythonHttpServer> python;
        const std::string host =
            c.ranges ? nginx.emplace(web.path()).host() : python.emplace(web.path()).host();
        testsupport::ChildProcess updater(
            {QT_UPDATE_CHILD, install, host, REAL_UNZIP32_FOLDER, "", key.publicKeyBase64},
            scratch / "updater.out");

        ASSERT_EQ(updater.exitStatusWithin(std::chrono::seconds(60)), 0)
            << readFile(scratch / "updater.out");
        const auto outcome = testsupport::lastRunOutcome(readFile(scratch / "updater.out"));
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->as<Report::ChangedFiles>("changed"),
                  c.ranges ? Report::ChangedFiles::arrived : Report::ChangedFiles::fellBack);
        if (!c.ranges) {
            EXPECT_EQ(outcome->as<updater::FetchFailureKind>("fallback"),
                      updater::FetchFailureKind::rangesRefused);
        }
        EXPECT_EQ(filesBelow(install), filesBelow(releases[2]->path()));
        EXPECT_TRUE(executable(install + "/morvane.exe"));
        EXPECT_FALSE(fs::exists(install + "/NoteError.txt"));
        if (!nginx) {
            continue;
        }
        // Only ranges of the package: never the whole of it.
        nginx->stop();
        std::uint64_t fetched = 0;
        const std::string log = nginx->accessLog();
        for (std::size_t at = 0; (at = log.find("206 ", at)) != std::string::npos; at += 4) {
            fetched += std::stoull(log.substr(at + 4));
        }
        EXPECT_EQ(log.find("\"bytes=0-\""), std::string::npos) << log;
        EXPECT_LT(fetched, packageSize / 2) << log;
    }

    // A byte of a file the update fetches, changed after signing.
    const std::string package = web / "clientfiles/morvane/morvane.zip";
    std::string bytes = readFile(package);
    std::size_t name = 0;
    while ((name = bytes.find("data/f7.bin", name + 1)) != std::string::npos &&
           bytes.compare(name - 30, 4, "PK\3\4") != 0) {
    }
    ASSERT_NE(name, std::string::npos);
    bytes[name + 11 + 4096] ^= 1;
    writeFile(package, bytes);
    testsupport::TempDir root;
    const std::string install = root / "Morvane";
    fs::copy(releases[1]->path(), install, fs::copy_options::recursive);
    testsupport::NginxServer nginx(web.path());
    testsupport::ChildProcess updater(
        {QT_UPDATE_CHILD, install, nginx.host(), REAL_UNZIP32_FOLDER, "", key.publicKeyBase64},
        scratch / "updater.out");

    EXPECT_EQ(updater.exitStatusWithin(std::chrono::seconds(60)), 4);
    // The installation as it was; the log and what the temp folder holds
    // beside it.
    auto left = filesBelow(install);
    std::erase_if(left, [](const auto& file) {
        return file.first == "NoteError.txt" || file.first.starts_with("temp/");
    });
    EXPECT_EQ(left, filesBelow(releases[1]->path()));
    // The changed files did not do, and the whole package was refused: the
    // log says both.
    const auto outcome = testsupport::lastRunOutcome(readFile(scratch / "updater.out"));
    ASSERT_TRUE(outcome) << readFile(scratch / "updater.out");
    EXPECT_EQ(outcome->as<Report::ChangedFiles>("changed"), Report::ChangedFiles::fellBack);
    EXPECT_EQ(outcome->field("failure"), updater::packageNotAsAnnounced);
    EXPECT_TRUE(fs::exists(install + "/NoteError.txt"));
}

} // namespace
