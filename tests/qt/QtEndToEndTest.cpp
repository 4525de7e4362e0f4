// The whole update through the real window, each in a process of its own so
// that the end of the program (or the window left open) is seen from
// outside, against a publisher on loopback and the real unzip library.
#include "platform/files/DiskFileSystem.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "testsupport/AnswerGate.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/LoopbackPublisher.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PackageBuilder.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/ScriptedHttpServer.h"
#include "testsupport/TempDir.h"
#include "testsupport/TreeSnapshot.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testsupport::exists;
using testsupport::readFile;

const std::string successText = "Update Success, Please restart application";

struct Outcome {
    int status = -1; // 0: the program ended; 4: the window stayed open
    std::vector<std::string> lines;

    std::size_t countStarting(const std::string& start) const {
        return static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) { return l.rfind(start, 0) == 0; }));
    }
    bool mentions(const std::string& text) const {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    }
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

class RealWindowUpdate : public ::testing::Test {
protected:
    RealWindowUpdate() : install(root / "Morvane") {
        testsupport::TempDir::makeFolder(install);
        testsupport::writeVersionedExecutable(app("morvane.exe"), "1.2.0.5");
        chmod(app("morvane.exe").c_str(), 0755);
        testsupport::writeVersionedExecutable(staging / "morvane.exe", "1.3.0.0");
    }

    std::string app(const std::string& name) const { return install + "/" + name; }
    std::string newExecutable() const { return readFile(staging / "morvane.exe"); }
    std::string installedVersion() const {
        return platform::DiskFileSystem().GetFileVersion(app("morvane.exe"));
    }
    std::vector<std::string> logLines() const {
        return exists(app("NoteError.txt")) ? linesOf(readFile(app("NoteError.txt")))
                                            : std::vector<std::string>{};
    }

    // Starts the updater; the user answers as the child program says.
    // With a key, the updater is the one built with that publisher's key.
    std::unique_ptr<testsupport::ChildProcess> start(const std::string& host,
                                                     const std::string& output,
                                                     const std::string& password = {},
                                                     const std::string& key = {}) {
        std::vector<std::string> arguments{QT_UPDATE_CHILD, install, host, REAL_UNZIP32_FOLDER};
        if (!password.empty() || !key.empty()) {
            arguments.push_back(password);
        }
        if (!key.empty()) {
            arguments.push_back(key);
        }
        return std::make_unique<testsupport::ChildProcess>(arguments, output);
    }

    Outcome finish(testsupport::ChildProcess& child, const std::string& output) {
        Outcome outcome;
        outcome.status = child.exitStatusWithin(60s);
        outcome.lines = linesOf(readFile(output));
        return outcome;
    }

    Outcome run(const std::string& host, const std::string& password = {},
                const std::string& key = {}) {
        const std::string output = staging / "child.out";
        auto child = start(host, output, password, key);
        return finish(*child, output);
    }

    testsupport::TempDir root;
    testsupport::TempDir staging;
    std::string install;
};

// Built without a publisher's key, the updater installs an unsigned package.
TEST_F(RealWindowUpdate, UpdateThroughTheRealWindowEndsTheProgramWithStatusZero) {
    testsupport::buildPackage(
        staging / "package.zip",
        {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"}, {"morvane.exe", newExecutable()}});
    testsupport::LoopbackPublisher publisher("1.3.0", staging / "package.zip");

    const Outcome outcome = run(publisher.host());

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(installedVersion(), "1.3.0.0");
    EXPECT_FALSE(exists(app("temp")));
    EXPECT_FALSE(exists(app("NoteError.txt")));
}

// An error page served as the package: the library's box, one log line, the
// window open, nothing installed and never the success text.
TEST_F(RealWindowUpdate, ErrorPageAsThePackageLeavesTheWindowOpenAndInstallsNothing) {
    for (const int status : {404, 503}) {
        SCOPED_TRACE(status);
        std::remove(app("NoteError.txt").c_str());
        testsupport::writeFile(staging / "package.zip",
                               "<html><body>" + std::to_string(status) + "</body></html>");
        testsupport::LoopbackPublisher publisher("1.3.0", staging / "package.zip");
        publisher.setPackageStatus(status);

        const Outcome outcome = run(publisher.host());

        EXPECT_EQ(outcome.status, 4);
        EXPECT_EQ(outcome.countStarting("box Morvane Updater: "), 2u); // offer, library
        EXPECT_FALSE(outcome.mentions(successText));
        ASSERT_EQ(logLines().size(), 1u);
        EXPECT_NE(logLines()[0].find("Updater the package could not be unpacked"),
                  std::string::npos)
            << logLines()[0];
        EXPECT_EQ(installedVersion(), "1.2.0.5");
    }
}

// A log that cannot be written (here a folder stands in its place) loses no
// failure: the box tells it, and why the log did not take it.
TEST_F(RealWindowUpdate, AnUnwritableLogStillTellsTheFailureInItsBox) {
    ASSERT_EQ(mkdir(app("NoteError.txt").c_str(), 0755), 0);
    testsupport::writeFile(staging / "package.zip", "<html><body>404</body></html>");
    testsupport::LoopbackPublisher publisher("1.3.0", staging / "package.zip");
    publisher.setPackageStatus(404);

    const Outcome outcome = run(publisher.host());

    EXPECT_EQ(outcome.status, 4);
    EXPECT_TRUE(outcome.mentions("Error Contact Administrator.|the package could not be "
                                 "unpacked"));
    EXPECT_TRUE(outcome.mentions("The error log could not be written: "));
    EXPECT_EQ(installedVersion(), "1.2.0.5");
}

// Built with the publisher's key, the updater installs only a package the
// publisher signed for the version just offered; every other one is refused
// before anything is unpacked, and the log says why.
TEST_F(RealWindowUpdate, BuiltWithAKeyInstallsOnlyWhatThePublisherSignedForTheOffer) {
    const auto publisherKey = testsupport::makePublisherKey(staging / "publisher.pem");
    const auto otherKey = testsupport::makePublisherKey(staging / "other.pem");
    testsupport::buildPackage(
        staging / "unsigned.zip",
        {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"}, {"morvane.exe", newExecutable()}});
    const auto signedBy = [&](const testsupport::PublisherKey& key, const std::string& version) {
        const std::string copy = staging / "signed.zip";
        testsupport::writeFile(copy, readFile(staging / "unsigned.zip"));
        signature::signPackage(copy, signature::SigningKey::fromFile(key.privateKeyFile), version);
        return readFile(copy);
    };
    // The version answer the publisher signs for the package it serves.
    const auto signingKey = signature::SigningKey::fromFile(publisherKey.privateKeyFile);
    const auto answerFor = [&](const std::string& version, const std::string& package) {
        const auto identity = signature::identifyPackage(package);
        return version + "\r\n" +
               signature::formatReleaseLine(signature::signRelease(
                   version, identity.size, identity.sha512, std::time(nullptr) + 3600, signingKey));
    };
    const std::string good = signedBy(publisherKey, "1.3.0");
    std::string flipped = good;
    flipped[good.size() / 3] = static_cast<char>(flipped[good.size() / 3] ^ 0x01);
    struct Case {
        const char* what;
        std::string package;
        std::string description;
        std::string offered;
        // The package the version answer announces; empty: the one served.
        std::string announced;
    };
    const std::vector<Case> refused{
        {"one byte flipped", flipped, "signature does not match its contents", "1.3.0", ""},
        {"unsigned", readFile(staging / "unsigned.zip"), "carries no publisher's signature",
         "1.3.0", ""},
        {"other key", signedBy(otherKey, "1.3.0"),
         "signed by another key (" + otherKey.publicKeyBase64 + ")", "1.3.0", ""},
        {"data appended", good + std::string(16, '\0'), "16 bytes follow the end", "1.3.0", ""},
        {"older version", signedBy(publisherKey, "1.2.9"),
         "signed for version 1.2.9, but the version endpoint offered version 1.3.0", "1.3.0", ""},
        // The version answer binds the download to one package.
        {"longer than announced", good + std::string(16, '\0'),
         "the server sends " + std::to_string(good.size() + 16) +
             " bytes, but the version answer announced " + std::to_string(good.size()),
         "1.3.0", good},
        {"not the package announced", flipped, "it is not the package the version answer announced",
         "1.3.0", good},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        std::remove(app("NoteError.txt").c_str());
        testsupport::writeFile(staging / "package.zip", c.package);
        testsupport::writeFile(staging / "announced.zip",
                               c.announced.empty() ? c.package : c.announced);
        testsupport::LoopbackPublisher publisher(answerFor(c.offered, staging / "announced.zip"),
                                                 staging / "package.zip");

        const Outcome outcome = run(publisher.host(), "", publisherKey.publicKeyBase64);

        EXPECT_EQ(outcome.status, 4);
        EXPECT_TRUE(outcome.mentions("box Updater: Download: "));
        EXPECT_TRUE(outcome.mentions(c.description));
        ASSERT_EQ(logLines().size(), 1u);
        EXPECT_NE(logLines()[0].find("\"Updater: Download the package was refused: "),
                  std::string::npos)
            << logLines()[0];
        EXPECT_NE(logLines()[0].find(c.description), std::string::npos) << logLines()[0];
        EXPECT_EQ(installedVersion(), "1.2.0.5");
        // Nothing unpacked: the refused package alone, kept for a look.
        EXPECT_FALSE(exists(app("temp/updater.ini")));
        EXPECT_FALSE(exists(app("temp/morvane.exe")));
    }

    // A field a later publisher's tool adds, signed with the rest, is read past.
    std::remove(app("NoteError.txt").c_str());
    testsupport::writeFile(staging / "package.zip", good);
    const auto identity = signature::identifyPackage(staging / "package.zip");
    signature::ReleaseLine grown = signature::signRelease("1.3.0", identity.size, identity.sha512,
                                                          std::time(nullptr) + 3600, signingKey);
    grown.laterFields = {{"channel", "stable"}};
    grown.signature = signingKey.sign(signature::releaseSignedText(grown));
    testsupport::LoopbackPublisher publisher("1.3.0\r\n" + signature::formatReleaseLine(grown),
                                             staging / "package.zip");
    EXPECT_EQ(run(publisher.host(), "", publisherKey.publicKeyBase64).status, 0);
    EXPECT_EQ(installedVersion(), "1.3.0.0");
    EXPECT_FALSE(exists(app("NoteError.txt")));
}

// A server that sends the package without its length (chunked, as a
// compressing web server or a script does) still delivers a whole package.
TEST_F(RealWindowUpdate, APackageSentWithoutItsLengthInstalls) {
    testsupport::buildPackage(
        staging / "package.zip",
        {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"}, {"morvane.exe", newExecutable()}});
    const std::string package = readFile(staging / "package.zip");
    testsupport::LoopbackServer server;
    server.server().Get("/clientfiles/morvane/version.php",
                        [](const httplib::Request&, httplib::Response& res) {
                            res.set_content("1.3.0", "text/plain");
                        });
    server.server().Get(
        "/clientfiles/morvane/morvane.zip", [&](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "application/zip", [&](std::size_t offset, httplib::DataSink& sink) {
                    if (offset == package.size()) {
                        sink.done();
                    } else {
                        sink.write(package.data() + offset,
                                   std::min<std::size_t>(4000, package.size() - offset));
                    }
                    return true;
                });
        });
    server.start();

    const Outcome outcome = run(server.host());

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(installedVersion(), "1.3.0.0");
    EXPECT_TRUE(logLines().empty());
}

// The plain check offers 1.1.7 to 1.2.0.5 (its third piece against the
// fourth part), but a keyed updater knows the signed answer's version
// before it asks: an older release served again is not offered, the user
// hears that the version is the latest, and the log names what was offered.
TEST_F(RealWindowUpdate, BuiltWithAKeyOffersNoOlderRelease) {
    const auto publisherKey = testsupport::makePublisherKey(staging / "publisher.pem");
    testsupport::buildPackage(
        staging / "package.zip",
        {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"}, {"morvane.exe", newExecutable()}});
    const auto key = signature::SigningKey::fromFile(publisherKey.privateKeyFile);
    signature::signPackage(staging / "package.zip", key, "1.1.7");
    const auto identity = signature::identifyPackage(staging / "package.zip");
    testsupport::LoopbackPublisher publisher(
        "1.1.7\r\n" + signature::formatReleaseLine(signature::signRelease(
                          "1.1.7", identity.size, identity.sha512, std::time(nullptr) + 3600, key)),
        staging / "package.zip");

    const Outcome outcome = run(publisher.host(), "", publisherKey.publicKeyBase64);

    EXPECT_EQ(outcome.status, 4);
    EXPECT_FALSE(outcome.mentions("New version found"));
    EXPECT_TRUE(outcome.mentions("box Morvane Updater: You are using the latest version"));
    EXPECT_EQ(publisher.packageRequests(), 0u);
    EXPECT_EQ(installedVersion(), "1.2.0.5");
    ASSERT_EQ(logLines().size(), 1u);
    EXPECT_NE(logLines()[0].find("\"Updater: Version the version answer offers version 1.1.7, "
                                 "which is not newer than the installed version 1.2.0.5"),
              std::string::npos)
        << logLines()[0];
}

// jar records no Unix modes: the installed program must stay runnable.
TEST_F(RealWindowUpdate, PackageWithoutExecuteBitsKeepsTheProgramRunnable) {
    const std::string tree = staging / "tree";
    testsupport::TempDir::makeFolder(tree);
    testsupport::writeFile(tree + "/updater.ini", "MOVE;morvane.exe;APP_PATH\r\n");
    testsupport::writeFile(tree + "/morvane.exe", newExecutable());
    chmod((tree + "/morvane.exe").c_str(), 0644);
    const std::string jar =
        "cd '" + tree + "' && jar cfM '" + staging / "package.zip" + "' updater.ini morvane.exe";
    ASSERT_EQ(std::system(jar.c_str()), 0);
    testsupport::LoopbackPublisher publisher("1.3.0", staging / "package.zip");

    EXPECT_EQ(run(publisher.host()).status, 0);

    EXPECT_EQ(installedVersion(), "1.3.0.0");
    EXPECT_EQ(access(app("morvane.exe").c_str(), X_OK), 0);
}

TEST_F(RealWindowUpdate, AesPackageAsksForItsPasswordOnce) {
    testsupport::buildEncryptedPackage(staging / "package.zip",
                                       {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"
                                                        "MOVE;Viewer.so;APP_PATH\r\n"
                                                        "MOVE;notes.txt;APP_PATH\r\n"},
                                        {"morvane.exe", newExecutable()},
                                        {"Viewer.so", "viewer plugin"},
                                        {"notes.txt", "notes"}},
                                       "s3cret", testsupport::Encryption::aes256);
    testsupport::LoopbackPublisher publisher("1.3.0", staging / "package.zip");

    const Outcome outcome = run(publisher.host(), "s3cret");

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.countStarting("input "), 1u);
    EXPECT_EQ(installedVersion(), "1.3.0.0");
    EXPECT_EQ(readFile(app("notes.txt")), "notes");
}

// An earlier run left its instructions in temp; a package without any must
// not carry them out.
TEST_F(RealWindowUpdate, StaleInstructionsInTempAreNeverCarriedOut) {
    testsupport::TempDir::makeFolder(app("temp"));
    testsupport::writeFile(app("temp/updater.ini"), "MAKEDIR;stale;APP_PATH\r\n");
    testsupport::buildPackage(staging / "package.zip", {{"morvane.exe", newExecutable()}});
    testsupport::LoopbackPublisher publisher("1.3.0", staging / "package.zip");

    const Outcome outcome = run(publisher.host());

    EXPECT_EQ(outcome.status, 4);
    EXPECT_FALSE(exists(app("stale")));
    EXPECT_FALSE(outcome.mentions(successText));
    ASSERT_EQ(logLines().size(), 1u);
    EXPECT_NE(logLines()[0].find("\"Updater File not found"), std::string::npos) << logLines()[0];
}

// The first updater holds its download open while a second one on the same
// installation starts: the second says at once that another update runs,
// without offering anything, and the first completes.
TEST_F(RealWindowUpdate, SecondUpdaterOnTheSameInstallationSaysSoAtOnce) {
    testsupport::buildPackage(
        staging / "package.zip",
        {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"}, {"morvane.exe", newExecutable()}});
    const std::string package = readFile(staging / "package.zip");
    testsupport::LoopbackServer server;
    std::atomic<bool> downloading{false};
    testsupport::AnswerGate gate;
    server.server().Get("/clientfiles/morvane/version.php",
                        [](const httplib::Request&, httplib::Response& res) {
                            res.set_content("1.3.0", "text/plain");
                        });
    server.server().Get("/clientfiles/morvane/morvane.zip",
                        [&, hold = gate.holder()](const httplib::Request&, httplib::Response& res) {
                            downloading = true;
                            hold();
                            res.set_content(package, "application/zip");
                        });
    server.start();

    const std::string firstOutput = staging / "first.out";
    auto first = start(server.host(), firstOutput);
    for (int i = 0; i < 6000 && !downloading; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(downloading);
    const Outcome second = run(server.host());
    gate.release();
    const Outcome firstOutcome = finish(*first, firstOutput);

    EXPECT_EQ(second.status, 4);
    // Nothing is offered: the installed version is not even read.
    EXPECT_FALSE(second.mentions("New version found"));
    EXPECT_TRUE(second.mentions("box Morvane Updater: "));
    EXPECT_FALSE(second.mentions("box Updater: Download: "));
    EXPECT_TRUE(second.mentions("Another update of this installation is running"));
    EXPECT_EQ(firstOutcome.status, 0);
    EXPECT_EQ(installedVersion(), "1.3.0.0");
    ASSERT_EQ(logLines().size(), 1u);
    EXPECT_NE(logLines()[0].find("Another update of this installation is running"),
              std::string::npos);
}

// An update that fails part way leaves the installation byte for byte as it
// was, however often it is tried; failed and refused tries in a row leave
// nothing behind that could stop the next good package from installing
// everything.
TEST_F(RealWindowUpdate, FailedUpdatesLeaveTheInstallationAsItWasAndTheNextGoodOneLandsWhole) {
    testsupport::writeFile(app("lib.dat"), "old library");
    const std::string good = "MOVE;morvane.exe;APP_PATH\r\n"
                             "MAKEDIR;plugins;APP_PATH\r\n"
                             "MOVE;Viewer.so;APP_PATH\\PLUGINS\r\n";
    const auto package = [&](const std::string& instructions) {
        testsupport::buildPackage(staging / "package.zip", {{"updater.ini", instructions},
                                                            {"morvane.exe", newExecutable()},
                                                            {"Viewer.so", "viewer plugin"},
                                                            {"lib.dat", "new library"}});
    };
    const auto before = testsupport::snapshotTree(install);
    package(good + "MOVE;missing.dll;APP_PATH\r\n");
    testsupport::LoopbackPublisher publisher("1.3.0", staging / "package.zip");

    for (int attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE(attempt);
        const Outcome outcome = run(publisher.host());
        EXPECT_EQ(outcome.status, 4);
        EXPECT_TRUE(outcome.mentions("box Updater: Error Contact Administrator.|"));
        EXPECT_FALSE(outcome.mentions(successText));
        EXPECT_EQ(testsupport::treeDifferences(before, testsupport::snapshotTree(install)), "");
        const auto lines = logLines();
        ASSERT_EQ(lines.size(), 2u * static_cast<std::size_t>(attempt));
        EXPECT_NE(lines[lines.size() - 2].find("\"Updater File not found"), std::string::npos);
        EXPECT_NE(lines.back().find("\"Updater the installation was restored as it was: 1 file "
                                    "restored, 1 added file and 1 added folder removed\""),
                  std::string::npos)
            << lines.back();
    }

    testsupport::writeFile(staging / "package.zip", "<html><body>503</body></html>");
    publisher.setPackageStatus(503);
    EXPECT_EQ(run(publisher.host()).status, 4);
    EXPECT_EQ(testsupport::treeDifferences(before, testsupport::snapshotTree(install)), "");

    package(good + "MOVE;lib.dat;APP_PATH\r\n");
    publisher.setPackageStatus(200);
    EXPECT_EQ(run(publisher.host()).status, 0);
    EXPECT_EQ(installedVersion(), "1.3.0.0");
    EXPECT_EQ(readFile(app("plugins/Viewer.so")), "viewer plugin");
    EXPECT_EQ(readFile(app("lib.dat")), "new library");
    EXPECT_FALSE(exists(app("temp")));
    EXPECT_FALSE(exists(app(".updater-journal")));
}

// A small file system of its own for the installation, which needs root.
class SmallFileSystem {
public:
    SmallFileSystem(const std::string& folder, const std::string& size) : m_folder(folder) {
        testsupport::TempDir::makeFolder(folder);
        m_mounted = geteuid() == 0 &&
                    mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    }
    ~SmallFileSystem() {
        if (m_mounted) {
            umount2(m_folder.c_str(), MNT_DETACH);
        }
    }
    bool mounted() const { return m_mounted; }

private:
    std::string m_folder;
    bool m_mounted = false;
};

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

// A disk too small for the next step fails it before it starts, with a
// sentence that says how much it needs and how much is free: the package
// before it is downloaded, its files before they are unpacked, the update
// before the first line changes anything. The installation stays as it was.
TEST_F(RealWindowUpdate, TooLittleRoomFailsEachStepBeforeItStarts) {
    const struct {
        const char* size; // of the installation's file system
        const char* sentence;
    } cases[] = {
        {"900k", "Disk full: the package the server announces needs "},
        {"1200k", "unpacking the archive needs "},
        {"1800k", "Disk full: the update needs "},
    };
    // About 760 KB packed and as much unpacked, beside 210 KB installed.
    // The files are installed as they lie in temp, but for the four more
    // copies of a.bin, which are written (1000 KB).
    testsupport::buildPackage(staging / "package.zip",
                              {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"
                                               "MAKEDIR;data;APP_PATH\r\n"
                                               "MOVE;a.bin;APP_PATH\\DATA\r\n"
                                               "MOVE;b.bin;APP_PATH\r\n"
                                               "MOVE;big.dat;APP_PATH\r\n"
                                               "MOVE;a.bin;APP_PATH\r\n"
                                               "MAKEDIR;copies;APP_PATH\r\n"
                                               "MOVE;a.bin;APP_PATH\\COPIES\r\n"
                                               "MAKEDIR;more;APP_PATH\r\n"
                                               "MOVE;a.bin;APP_PATH\\MORE\r\n"
                                               "MAKEDIR;last;APP_PATH\r\n"
                                               "MOVE;a.bin;APP_PATH\\LAST\r\n"},
                               {"morvane.exe", newExecutable()},
                               {"a.bin", randomBytes(250 * 1024, 2)},
                               {"b.bin", randomBytes(250 * 1024, 3)},
                               {"big.dat", randomBytes(250 * 1024, 4)}});
    testsupport::LoopbackPublisher publisher("1.3.0", staging / "package.zip");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const SmallFileSystem small(root / "small", c.size);
        if (!small.mounted()) {
            GTEST_SKIP() << "a small file system for the installation needs root and tmpfs";
        }
        install = root / "small/Morvane";
        testsupport::TempDir::makeFolder(install);
        testsupport::writeVersionedExecutable(app("morvane.exe"), "1.2.0.5");
        chmod(app("morvane.exe").c_str(), 0755);
        testsupport::writeFile(app("big.dat"), randomBytes(200 * 1024, 1));
        const auto before = testsupport::snapshotTree(install);

        const Outcome outcome = run(publisher.host());

        EXPECT_EQ(outcome.status, 4);
        EXPECT_TRUE(outcome.mentions(c.sentence));
        EXPECT_EQ(testsupport::treeDifferences(before, testsupport::snapshotTree(install)), "");
        const auto lines = logLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(c.sentence), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(" are free"), std::string::npos) << lines[0];
    }
}

// Without a key, a download cut off part way is gone on with only when the
// server names the rest as it named the kept part: a server or cache that
// ignores If-Range and sends the rest of a package published since is not
// appended to it; the same run starts over, and the new package lands.
TEST_F(RealWindowUpdate, WithoutAKeyTheRestOfAnotherPackageIsNeverAppended) {
    const auto packageOf = [&](unsigned seed) {
        testsupport::buildPackage(staging / "package.zip",
                                  {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"
                                                   "MOVE;data.bin;APP_PATH\r\n"},
                                   {"morvane.exe", newExecutable()},
                                   {"data.bin", randomBytes(512 * 1024, seed)}});
        return readFile(staging / "package.zip");
    };
    const std::string first = packageOf(1);
    const std::string second = packageOf(2);
    ASSERT_EQ(first.size(), second.size());
    std::atomic<bool> republished{false};
    testsupport::ScriptedHttpServer server(
        [&](const std::string& request, testsupport::ServerConnection& connection) {
            const auto head = [](const std::string& status, const std::string& fields) {
                return "HTTP/1.1 " + status + "\r\n" + fields + "Connection: close\r\n\r\n";
            };
            if (request.find("version.php") != std::string::npos) {
                connection.send(head("200 OK", "Content-Length: 5\r\n") + "1.3.0");
                return;
            }
            const std::string& package = republished ? second : first;
            const std::string etag = republished ? "ETag: \"b\"\r\n" : "ETag: \"a\"\r\n";
            const std::size_t at = request.find("Range: bytes=");
            const std::size_t from = std::stoul(request.substr(at + 13));
            if (!republished) {
                // The network drops half way.
                connection.send(head("200 OK", "Content-Length: " + std::to_string(package.size()) +
                                                   "\r\n" + etag) +
                                package.substr(0, package.size() / 2));
                return;
            }
            // If-Range ignored: the rest of what is served now.
            connection.send(head(from == 0 ? "200 OK" : "206 Partial Content",
                                 (from == 0 ? ""
                                            : "Content-Range: bytes " + std::to_string(from) + "-" +
                                                  std::to_string(package.size() - 1) + "/" +
                                                  std::to_string(package.size()) + "\r\n") +
                                     "Content-Length: " + std::to_string(package.size() - from) +
                                     "\r\n" + etag) +
                            package.substr(from));
        });

    ASSERT_EQ(run(server.host()).status, 4);
    ASSERT_TRUE(exists(app("temp/morvane.zip.resume")));
    republished = true;
    const Outcome outcome = run(server.host());

    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(readFile(app("data.bin")) == randomBytes(512 * 1024, 2));
    EXPECT_EQ(installedVersion(), "1.3.0.0");
}

// A download killed part way is gone on with by the next run when the offer
// is the same signed package: only the rest travels, and the update lands
// whole. When another release is offered by then, the next run starts that
// one from its first byte.
TEST_F(RealWindowUpdate, AKilledDownloadIsGoneOnWithOnlyForTheSamePackage) {
    const auto publisherKey = testsupport::makePublisherKey(staging / "publisher.pem");
    const auto signingKey = signature::SigningKey::fromFile(publisherKey.privateKeyFile);
    const std::string served = root / "www/clientfiles/morvane";
    std::filesystem::create_directories(served);
    // A release of about 1 MiB that cannot be packed smaller, and its answer.
    const auto publish = [&](const std::string& version, unsigned seed) {
        testsupport::writeVersionedExecutable(staging / "morvane.exe", version + ".0");
        const std::string package = served + "/morvane.zip";
        testsupport::buildPackage(package, {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"
                                                            "MOVE;data.bin;APP_PATH\r\n"},
                                            {"morvane.exe", newExecutable()},
                                            {"data.bin", randomBytes(1024 * 1024, seed)}});
        signature::signPackage(package, signingKey, version);
        const auto identity = signature::identifyPackage(package);
        testsupport::writeFile(served + "/version.php",
                               version + "\r\n" +
                                   signature::formatReleaseLine(signature::signRelease(
                                       version, identity.size, identity.sha512,
                                       std::time(nullptr) + 3600, signingKey)));
        return identity.size;
    };
    for (const bool otherRelease : {false, true}) {
        SCOPED_TRACE(otherRelease);
        std::filesystem::remove_all(app("temp"));
        testsupport::writeVersionedExecutable(app("morvane.exe"), "1.2.0.5");
        std::uint64_t size = publish("1.3.0", 1);
        testsupport::NginxServer nginx(root / "www", 512 * 1024);
        const std::string output = staging / "child.out";
        {
            auto killed = start(nginx.host(), output, "", publisherKey.publicKeyBase64);
            const auto until = std::chrono::steady_clock::now() + 30s;
            while (!(exists(app("temp/morvane.zip")) &&
                     std::filesystem::file_size(app("temp/morvane.zip")) >= 256 * 1024) &&
                   std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(5ms);
            }
        } // killed here
        const std::uint64_t kept = std::filesystem::file_size(app("temp/morvane.zip"));
        ASSERT_GE(kept, 256u * 1024);
        ASSERT_LT(kept, size);
        if (otherRelease) {
            size = publish("1.3.1", 2);
        }

        const Outcome outcome = run(nginx.host(), "", publisherKey.publicKeyBase64);

        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(installedVersion(), otherRelease ? "1.3.1.0" : "1.3.0.0");
        EXPECT_EQ(readFile(app("data.bin")), randomBytes(1024 * 1024, otherRelease ? 2 : 1));
        EXPECT_FALSE(exists(app("temp")));
        nginx.stop();
        std::vector<std::string> requests; // of the package, not of the version
        for (const std::string& line : linesOf(nginx.accessLog())) {
            if (line.find("\"bytes=") != std::string::npos) {
                requests.push_back(line);
            }
        }
        ASSERT_EQ(requests.size(), 2u) << nginx.accessLog();
        EXPECT_EQ(requests[1], otherRelease ? "206 " + std::to_string(size) + " \"bytes=0-\""
                                            : "206 " + std::to_string(size - kept) +
                                                  " \"bytes=" + std::to_string(kept) + "-\"");
    }
}

} // namespace
