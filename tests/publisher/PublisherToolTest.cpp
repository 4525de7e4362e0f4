// The publisher's tool on good and bad releases: what it serves, and that a
// refusal says why and leaves the served files as they were.
#include "PublisherRun.h"

#include "codemodule/CodeModuleState.h"
#include "platform/console/ConsoleToolkit.h"
#include "publisher/Publication.h"
#include "publisher/PublishError.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/TempDir.h"
#include "testsupport/TreeSnapshot.h"
#include "testsupport/VersionedExecutable.h"

#include "testsupport/CaseName.h"
#include "testsupport/PackageBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::exists;
using testsupport::readFile;
using testsupport::writeFile;

class PublisherTool : public ::testing::Test {
protected:
    PublisherTool() { testsupport::TempDir::makeFolder(release.path() + "/docs"); }

    std::string served(const std::string& name) const {
        return web.path() + "/clientfiles/morvane/" + name;
    }
    PublisherRun publish(const std::string& releaseFolder, const std::string& version) {
        return runPublisher({releaseFolder, version, web.path()}, scratch / "tool.out");
    }
    // The tool's work in this process, with packed called between the
    // building of the package and its test, where a release can change
    // while it is packed; the output as the tool prints it. An alarm ends a
    // run that would wait for ever.
    PublisherRun publishChangingWhilePacked(const std::string& releaseFolder,
                                            const std::string& version,
                                            const std::function<void()>& packed) {
        static std::ostringstream questions;
        static platform::ConsoleToolkit toolkit(questions);
        CodeModule::setLibraryFolder(std::filesystem::path(MORVANE_PUBLISH).parent_path());
        CodeModule::useToolkit(toolkit);
        std::ostringstream report;
        PublisherRun run;
        ::alarm(60);
        try {
            publisher::publish(
                {releaseFolder, version, web.path(), "", publisher::defaultValidDays, true, packed},
                toolkit, report);
            run.status = 0;
        } catch (const publisher::PublishError& failure) {
            run.status = 1;
            report << "morvane-publish: nothing published: " << failure.what() << '\n';
        }
        ::alarm(0);
        run.output = report.str();
        return run;
    }
    // updater.ini as the package brings it, read by Python's zipfile.
    std::string packagedInstructions() {
        const std::string command = "python3 -c 'import sys, zipfile; "
                                    "sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1])"
                                    ".read(\"updater.ini\"))' '" +
                                    served("morvane.zip") + "' > '" + scratch / "ini" + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return readFile(scratch / "ini");
    }
    // package_manifest.py's answer on the served package.
    std::string manifestScript(const std::vector<std::string>& arguments) {
        std::string command = "python3 '" PACKAGE_MANIFEST_SCRIPT "'";
        for (const std::string& argument : arguments) {
            command += " '" + argument + "'";
        }
        command += " > '" + scratch / "script.out" + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return readFile(scratch / "script.out");
    }
    std::vector<std::string> servedEntries() const {
        std::vector<std::string> names;
        for (const auto& entry :
             std::filesystem::directory_iterator(web.path() + "/clientfiles/morvane")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    testsupport::TempDir release;
    testsupport::TempDir web;
    testsupport::TempDir scratch;
};

TEST_F(PublisherTool, WritesInstructionsParentsFirstAndPublishesBothFiles) {
    testsupport::TempDir::makeFolder(release / "docs/deep");
    testsupport::TempDir::makeFolder(release / "lib");
    writeFile(release / "morvane.exe", "program");
    chmod((release / "morvane.exe").c_str(), 0755);
    writeFile(release / "docs/deep/notes.txt", "notes");
    writeFile(release / "docs/readme.txt", "readme");
    writeFile(release / "lib/.settings", "hidden");

    const PublisherRun run = publish(release.path(), "1.3.0");

    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(readFile(served("version.php")), "1.3.0");
    EXPECT_EQ(servedEntries(), (std::vector<std::string>{"morvane.zip", "version.php"}));
    EXPECT_EQ(packagedInstructions(), "MAKEDIR;docs;APP_PATH\r\n"
                                      "MAKEDIR;deep;APP_PATH\\docs\r\n"
                                      "MAKEDIR;lib;APP_PATH\r\n"
                                      "MOVE;notes.txt;APP_PATH\\docs\\deep\r\n"
                                      "MOVE;readme.txt;APP_PATH\\docs\r\n"
                                      "MOVE;.settings;APP_PATH\\lib\r\n"
                                      "MOVE;morvane.exe;APP_PATH\r\n");
    EXPECT_NE(run.output.find("MAKEDIR;deep;APP_PATH\\docs"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("docs/readme.txt  6 bytes"), std::string::npos) << run.output;
    // The manifest last and stored, every file listed with its SHA-256, as
    // Python's zipfile reads the package.
    EXPECT_EQ(manifestScript({"check", served("morvane.zip")}), "");
}

TEST_F(PublisherTool, ReleaseWithItsOwnInstructionsKeepsThem) {
    writeFile(release / "updater.ini",
              "MOVE;morvane.exe;APP_PATH\r\nEXEC;APP_PATH;morvane.exe\r\n");
    writeFile(release / "morvane.exe", "program");

    ASSERT_EQ(publish(release.path(), "2.0.1").status, 0);
    EXPECT_EQ(packagedInstructions(), "MOVE;morvane.exe;APP_PATH\r\nEXEC;APP_PATH;morvane.exe\r\n");
    EXPECT_EQ(manifestScript({"check", served("morvane.zip")}), "");
}

TEST_F(PublisherTool, PublishingAgainReplacesBothServedFiles) {
    writeFile(release / "morvane.exe", "program 1.3.0");
    ASSERT_EQ(publish(release.path(), "1.3.0").status, 0);
    writeFile(release / "morvane.exe", "program 1.3.1");
    writeFile(release / "docs/new.txt", "new");

    ASSERT_EQ(publish(release.path(), "1.3.1").status, 0);

    EXPECT_EQ(readFile(served("version.php")), "1.3.1");
    EXPECT_NE(packagedInstructions().find("MOVE;new.txt;APP_PATH\\docs\r\n"), std::string::npos);
    EXPECT_EQ(servedEntries(), (std::vector<std::string>{"morvane.zip", "version.php"}));
}

// Web servers name a file by its time in whole seconds and its size, and
// caches ask by those whether it changed: a package and an answer of the
// same size published again at once must still read as changed.
TEST_F(PublisherTool, FilesReplacedAtOnceReadAsChangedToCaches) {
    const auto stamps = [this] {
        std::vector<std::pair<time_t, off_t>> both;
        for (const char* name : {"morvane.zip", "version.php"}) {
            struct stat status {};
            EXPECT_EQ(stat(served(name).c_str(), &status), 0);
            both.emplace_back(status.st_mtim.tv_sec, status.st_size);
        }
        return both;
    };
    writeFile(release / "morvane.exe", "program 1.3.0");
    ASSERT_EQ(publish(release.path(), "1.3.0").status, 0);
    const auto first = stamps();
    writeFile(release / "morvane.exe", "program 1.3.1");
    ASSERT_EQ(publish(release.path(), "1.3.1").status, 0);
    const auto second = stamps();
    for (std::size_t file = 0; file < 2; ++file) {
        EXPECT_EQ(second[file].second, first[file].second) << "the test wants files of one size";
        EXPECT_GT(second[file].first, first[file].first) << file;
    }
}

// The file list of the zip call starts with a placeholder of this name;
// a release entry of that name is a file like any other.
TEST_F(PublisherTool, FileNamedLikeTheListsPlaceholderIsPublished) {
    writeFile(release / "QUERTY", "data");
    writeFile(release / "morvane.exe", "program");

    const PublisherRun run = publish(release.path(), "1.3.0");

    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(packagedInstructions().find("MOVE;QUERTY;APP_PATH\r\n"), std::string::npos);
}

// Signed with a key made by the openssl command, whose public key the tool
// names as the build takes it; other zip readers still read the package.
TEST_F(PublisherTool, SignsWithTheKeyAndOtherReadersStillReadThePackage) {
    writeFile(release / "morvane.exe", "program");
    const testsupport::PublisherKey key = testsupport::makePublisherKey(scratch / "key.pem");

    const PublisherRun run = runPublisher(
        {"--key", key.privateKeyFile, release.path(), "1.3.0", web.path()}, scratch / "tool.out");

    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("package signed for version 1.3.0 by the key " + key.publicKeyBase64),
              std::string::npos)
        << run.output;
    EXPECT_NE(packagedInstructions().find("MOVE;morvane.exe;APP_PATH"), std::string::npos);
    EXPECT_EQ(std::system(("bsdtar -tf '" + served("morvane.zip") + "' >/dev/null").c_str()), 0);
}

// With a key the version answer carries the signed release line of the
// served package, valid for the days asked; --renew signs it again for new
// days without touching the package, and only an answer this key signed for
// the package still served.
TEST_F(PublisherTool, SignedAnswerBindsThePackageAndIsRenewedWithoutTouchingIt) {
    writeFile(release / "morvane.exe", "program");
    const auto key = testsupport::makePublisherKey(scratch / "key.pem");
    const auto other = testsupport::makePublisherKey(scratch / "other.pem");
    const auto publicKey = *signature::publicKeyFromBase64(key.publicKeyBase64);
    const auto expectAnswer = [&](int days) {
        const std::string answer = readFile(served("version.php"));
        const auto check = signature::checkVersionAnswer(answer, publicKey, std::time(nullptr));
        ASSERT_TRUE(check.verified()) << check.description;
        EXPECT_EQ(answer.substr(0, 7), "1.3.0\r\n");
        const auto package = signature::identifyPackage(served("morvane.zip"));
        EXPECT_EQ(check.release->size, package.size);
        EXPECT_TRUE(check.release->sha512 == package.sha512);
        ASSERT_TRUE(check.release->manifest.has_value());
        std::string manifestHex;
        for (const std::uint8_t byte : *check.release->manifest) {
            manifestHex += "0123456789abcdef"[byte >> 4];
            manifestHex += "0123456789abcdef"[byte & 0x0f];
        }
        EXPECT_EQ(manifestHex + "\n", manifestScript({"digest", served("morvane.zip")}));
        EXPECT_NEAR(static_cast<double>(check.release->expires - std::time(nullptr)),
                    days * 86400.0, 120.0);
    };
    const auto tool = [&](const std::vector<std::string>& arguments) {
        return runPublisher(arguments, scratch / "tool.out");
    };

    PublisherRun run = tool(
        {"--key", key.privateKeyFile, "--valid-days", "2", release.path(), "1.3.0", web.path()});
    ASSERT_EQ(run.status, 0) << run.output;
    expectAnswer(2);
    const std::string package = readFile(served("morvane.zip"));

    // A field a later tool added stays through the renewal, signed again.
    {
        std::string why;
        const std::string published = readFile(served("version.php"));
        auto line = *signature::parseReleaseLine(published.substr(published.find('\n') + 1), why);
        line.laterFields = {{"channel", "stable"}};
        const auto signingKey = signature::SigningKey::fromFile(key.privateKeyFile);
        line.signature = signingKey.sign(signature::releaseSignedText(line));
        writeFile(served("version.php"), "1.3.0\r\n" + signature::formatReleaseLine(line));
    }
    run = tool({"--key", key.privateKeyFile, "--valid-days", "10", "--renew", web.path(), "1.3.0"});
    ASSERT_EQ(run.status, 0) << run.output;
    expectAnswer(10);
    EXPECT_NE(readFile(served("version.php")).find(" channel=stable key="), std::string::npos);
    EXPECT_EQ(readFile(served("morvane.zip")), package);

    const std::string answer = readFile(served("version.php"));
    struct Refusal {
        std::vector<std::string> arguments;
        int status;
        std::string said;
    };
    const std::vector<Refusal> refusals{
        {{"--key", other.privateKeyFile, "--renew", web.path(), "1.3.0"},
         1,
         "not renewed: the served version answer is not one this key signed"},
        {{"--renew", web.path(), "1.3.0"}, 2, "--renew needs --key"},
        // A served folder restored from an older backup is not vouched for
        // again.
        {{"--key", key.privateKeyFile, "--renew", web.path(), "1.3.1"},
         1,
         "not renewed: the served answer names 1.3.0, not 1.3.1"},
        {{"--key", key.privateKeyFile, "--renew", web.path()},
         2,
         "--renew takes OUTPUT_FOLDER VERSION"},
        {{"--key", key.privateKeyFile, "--valid-days", "0", "--renew", web.path(), "1.3.0"},
         1,
         "1 to 3650 days"},
        {{"--key", key.privateKeyFile, "--valid-days", "3651", release.path(), "1.3.1", web.path()},
         1,
         "1 to 3650 days"},
        {{"--valid-days", "5", release.path(), "1.3.1", web.path()}, 2, "usage"},
    };
    for (const Refusal& refusal : refusals) {
        run = tool(refusal.arguments);
        EXPECT_EQ(run.status, refusal.status) << run.output;
        EXPECT_NE(run.output.find(refusal.said), std::string::npos) << run.output;
        EXPECT_EQ(readFile(served("version.php")), answer);
        EXPECT_EQ(readFile(served("morvane.zip")), package);
    }
    // For updaters built before they could read it, the line leaves the
    // manifest out, and so does its renewal; the package still carries it.
    for (const auto& arguments :
         {std::vector<std::string>{"--key", key.privateKeyFile, "--for-older-updaters",
                                   release.path(), "1.3.0", web.path()},
          std::vector<std::string>{"--key", key.privateKeyFile, "--renew", web.path(), "1.3.0"}}) {
        run = tool(arguments);
        ASSERT_EQ(run.status, 0) << run.output;
        const auto check = signature::checkVersionAnswer(readFile(served("version.php")), publicKey,
                                                         std::time(nullptr));
        ASSERT_TRUE(check.verified()) << check.description;
        EXPECT_FALSE(check.release->manifest.has_value());
        EXPECT_EQ(readFile(served("version.php")).find("manifest="), std::string::npos);
    }
    EXPECT_NE(readFile(served("morvane.zip")).find("morvane.manifest"), std::string::npos);
    EXPECT_EQ(tool({"--for-older-updaters", release.path(), "1.3.1", web.path()}).status, 2);
    const std::string olderAnswer = readFile(served("version.php"));
    // A package that changed after publishing is not vouched for again.
    writeFile(served("morvane.zip"), readFile(served("morvane.zip")) + "x");
    run = tool({"--key", key.privateKeyFile, "--renew", web.path(), "1.3.0"});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("not the one the version answer announces"), std::string::npos)
        << run.output;
    EXPECT_EQ(readFile(served("version.php")), olderAnswer);
}

// A key the tool cannot sign with stops it before anything is built.
TEST_F(PublisherTool, KeyItCannotSignWithPublishesNothing) {
    writeFile(release / "morvane.exe", "program");
    writeFile(scratch / "text.pem", "not a key");
    ASSERT_EQ(std::system(("openssl genpkey -algorithm rsa -pkeyopt rsa_keygen_bits:1024 -out '" +
                           scratch / "rsa.pem" + "' 2>/dev/null")
                              .c_str()),
              0);
    ASSERT_EQ(std::system(("openssl genpkey -algorithm ed25519 -aes256 -pass pass:secret -out '" +
                           scratch / "encrypted.pem" + "'")
                              .c_str()),
              0);
    const std::vector<std::pair<std::string, std::string>> cases{
        {scratch / "missing.pem", "cannot read the private key file"},
        {scratch / "text.pem", "holds no private key"},
        {scratch / "encrypted.pem", "encrypted.pem is encrypted; give an unencrypted Ed25519 key"},
        {scratch / "rsa.pem", "another kind than Ed25519"},
    };
    for (const auto& [keyFile, said] : cases) {
        const PublisherRun run = runPublisher(
            {"--key", keyFile, release.path(), "1.3.0", web.path()}, scratch / "tool.out");
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find("nothing published: "), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(said), std::string::npos) << run.output;
        EXPECT_FALSE(testsupport::exists(served("morvane.zip")));
    }
}

struct RefusalCase {
    const char* name;
    std::function<void(const testsupport::TempDir&)> prepare;
    std::string folder; // inside the release folder; empty for the folder itself
    std::string version;
    std::vector<std::string> said; // each must appear in what the tool prints
    // What changes in the release once it is packed and before the package
    // is tested; empty for none.
    std::function<void(const testsupport::TempDir&)> whilePacked = {};
    // The output folder: "web/<path>" or "release/<path>" ("release/." the
    // release folder itself); empty for the web folder, which serves 1.2.0.
    std::string output = {};
    // A library the tool's folder lacks; empty for none.
    std::string libraryMissing = {};
};

class PublisherRefuses : public PublisherTool, public ::testing::WithParamInterface<RefusalCase> {
protected:
    std::string outputFolder() const {
        const std::string& output = GetParam().output;
        if (output.empty()) {
            return web.path();
        }
        const std::string place = output.substr(output.find('/') + 1);
        return output.starts_with("release/") ? release / place : web / place;
    }
    // The tool in a folder of its own, without the library.
    std::string toolWithout(const std::string& library) const {
        const std::string folder = scratch / "tool";
        testsupport::TempDir::makeFolder(folder);
        const std::filesystem::path built(MORVANE_PUBLISH);
        for (const char* file : {"morvane-publish", "libzip32.so", "libunzip32.so"}) {
            if (file != library) {
                std::filesystem::copy_file(built.parent_path() / file,
                                           std::filesystem::path(folder) / file);
            }
        }
        chmod((folder + "/morvane-publish").c_str(), 0755);
        return folder + "/morvane-publish";
    }
};

TEST_P(PublisherRefuses, SaysWhyAndLeavesTheOutputAndTheReleaseAlone) {
    testsupport::TempDir::makeFolder(web / "clientfiles");
    testsupport::TempDir::makeFolder(web / "clientfiles/morvane");
    writeFile(served("version.php"), "1.2.0");
    writeFile(served("morvane.zip"), "old package");
    GetParam().prepare(release);
    const std::string folder =
        GetParam().folder.empty() ? release.path() : release / GetParam().folder;
    const testsupport::TreeSnapshot webBefore = testsupport::snapshotTree(web.path(), {});
    testsupport::TreeSnapshot releaseBefore = testsupport::snapshotTree(release.path(), {});

    const auto& whilePacked = GetParam().whilePacked;
    PublisherRun run;
    if (whilePacked) {
        run = publishChangingWhilePacked(folder, GetParam().version, [&] {
            whilePacked(release);
            releaseBefore = testsupport::snapshotTree(release.path(), {});
        });
    } else {
        std::vector<std::string> command{GetParam().libraryMissing.empty()
                                             ? std::string(MORVANE_PUBLISH)
                                             : toolWithout(GetParam().libraryMissing),
                                         folder, GetParam().version, outputFolder()};
        testsupport::ChildProcess child(command, scratch / "tool.out");
        run.status = child.exitStatusWithin(std::chrono::seconds(60));
        run.output = readFile(scratch / "tool.out");
    }

    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("nothing published: "), std::string::npos) << run.output;
    for (const std::string& text : GetParam().said) {
        EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
    }
    EXPECT_EQ(testsupport::treeDifferences(webBefore, testsupport::snapshotTree(web.path(), {})),
              "");
    EXPECT_EQ(
        testsupport::treeDifferences(releaseBefore, testsupport::snapshotTree(release.path(), {})),
        "");
}

void withFile(const testsupport::TempDir& r, const std::string& name) {
    writeFile(r / name, name);
}

void withProgramAndGuide(const testsupport::TempDir& r) {
    withFile(r, "morvane.exe");
    withFile(r, "docs/guide.txt");
}

const char* const publishAgain = "publish again when the release folder is still";

INSTANTIATE_TEST_SUITE_P(
    Releases, PublisherRefuses,
    ::testing::Values(
        RefusalCase{"NameCollisionNamesBothFiles",
                    [](const auto& r) {
                        testsupport::TempDir::makeFolder(r / "lib");
                        withFile(r, "docs/Setup.cfg");
                        withFile(r, "lib/setup.cfg");
                    },
                    "",
                    "1.3.0",
                    {"docs/Setup.cfg", "lib/setup.cfg", "one folder"}},
        RefusalCase{"MoreTopEntriesThanTheListHolds",
                    [](const auto& r) {
                        for (int i = 0; i < 101; ++i) {
                            withFile(r, "file" + std::to_string(i) + ".txt");
                        }
                    },
                    "",
                    "1.3.0",
                    {"names 102 entries", "at most 100", "into folders"}},
        RefusalCase{"MissingFolder", [](const auto&) {}, "gone", "1.3.0", {"gone does not exist"}},
        RefusalCase{"EmptyRelease", [](const auto&) {}, "", "1.3.0", {"holds no files"}},
        RefusalCase{"BadVersion",
                    [](const auto& r) { withFile(r, "a.txt"); },
                    "",
                    "1.3",
                    {"three numbers", "\"1.3\""}},
        RefusalCase{"NestedInstructionFileMeetsTheWrittenOne",
                    [](const auto& r) { withFile(r, "docs/updater.ini"); },
                    "",
                    "1.3.0",
                    {"docs/updater.ini", "the one this tool writes"}},
        RefusalCase{"SemicolonInAName",
                    [](const auto& r) { withFile(r, "docs/a;b.txt"); },
                    "",
                    "1.3.0",
                    {"docs/a;b.txt", "\";\""}},
        // The updater's own temp folder, in any letter case, file or folder;
        // deeper down the name is free.
        RefusalCase{"TopFolderNamedTemp",
                    [](const auto& r) {
                        testsupport::TempDir::makeFolder(r / "Temp");
                        withFile(r, "Temp/template.dot");
                    },
                    "",
                    "1.3.0",
                    {"cannot publish Temp", "own temp folder"}},
        RefusalCase{"TopFileNamedTemp",
                    [](const auto& r) {
                        withFile(r, "TEMP");
                        withFile(r, "docs/temp");
                    },
                    "",
                    "1.3.0",
                    {"cannot publish TEMP", "stop every update"}},
        // The manifest lies in the update's temp folder beside every file
        // the package brings, and no line may install it.
        RefusalCase{"TopFileNamedLikeTheManifest",
                    [](const auto& r) { withFile(r, "Morvane.Manifest"); },
                    "",
                    "1.3.0",
                    {"cannot publish Morvane.Manifest", "carries its manifest under this name"}},
        RefusalCase{"DeeperFileNamedLikeTheManifest",
                    [](const auto& r) { withFile(r, "docs/MORVANE.manifest"); },
                    "",
                    "1.3.0",
                    {"docs/MORVANE.manifest and morvane.manifest (the package's manifest)"}},
        RefusalCase{"OwnInstructionsMoveTheManifest",
                    [](const auto& r) {
                        withFile(r, "morvane.exe");
                        writeFile(r / "updater.ini",
                                  "MOVE;morvane.exe;APP_PATH\r\nmove;*.MANIFEST;APP_PATH\r\n");
                    },
                    "",
                    "1.3.0",
                    {"updater.ini has the line \"move;*.MANIFEST;APP_PATH\"",
                     "would install the package's manifest"}},
        RefusalCase{"FileNamedLikeThePackage",
                    [](const auto& r) { withFile(r, "docs/Morvane.zip"); },
                    "",
                    "1.3.0",
                    {"docs/Morvane.zip", "beside its package"}},
        RefusalCase{"PlaceholderInAFolderName",
                    [](const auto& r) {
                        testsupport::TempDir::makeFolder(r / "my_app_path");
                        withFile(r, "my_app_path/a.txt");
                    },
                    "",
                    "1.3.0",
                    {"my_app_path", "installation folder"}},
        RefusalCase{"SymbolicLink",
                    [](const auto& r) {
                        withFile(r, "a.txt");
                        symlink("a.txt", (r / "b.txt").c_str());
                    },
                    "",
                    "1.3.0",
                    {"b.txt is a symbolic link"}},
        // Shown with the bytes that are not UTF-8 escaped, as the scan finds it.
        RefusalCase{"NameThatIsNotUtf8",
                    [](const auto& r) {
                        withFile(r, "morvane.exe");
                        withFile(r, "docs/caf\xe9.txt");
                    },
                    "",
                    "1.3.0",
                    {"cannot publish docs/caf\\xE9.txt: its name is not UTF-8"}},
        // The release changes once the scan has passed it: each said for what
        // it is, none waited for, and none taken for a look-alike folder.
        RefusalCase{"FileTurnedIntoAFifoWhilePacked",
                    withProgramAndGuide,
                    "",
                    "1.3.0",
                    {"docs/guide.txt changed while it was being packed (it is now a FIFO, not a "
                     "file)",
                     publishAgain},
                    [](const auto& r) {
                        std::filesystem::remove(r / "docs/guide.txt");
                        ASSERT_EQ(::mkfifo((r / "docs/guide.txt").c_str(), 0600), 0);
                    }},
        RefusalCase{"FileThatGrewWhilePacked",
                    withProgramAndGuide,
                    "",
                    "1.3.0",
                    {"docs/guide.txt changed while it was being packed (it had 14 bytes when the "
                     "release was read and has 20 now)",
                     publishAgain},
                    [](const auto& r) { writeFile(r / "docs/guide.txt", "docs/guide.txt grown"); }},
        RefusalCase{"FileThatDisappearedWhilePacked",
                    withProgramAndGuide,
                    "",
                    "1.3.0",
                    {"docs/guide.txt disappeared while it was being packed", publishAgain},
                    [](const auto& r) { std::filesystem::remove(r / "docs/guide.txt"); }},
        // Nothing is made for a refused publication: not the served folder,
        // not the output folder, and nothing in the release.
        RefusalCase{.name = "OutputFolderInsideTheRelease",
                    .prepare = withProgramAndGuide,
                    .folder = "",
                    .version = "1.3.0",
                    .said = {"lies inside the release folder; the package would hold itself"},
                    .output = "release/out/www"},
        RefusalCase{.name = "OutputFolderIsTheRelease",
                    .prepare = withProgramAndGuide,
                    .folder = "",
                    .version = "1.3.0",
                    .said = {"is the release folder itself; the package would hold itself"},
                    .output = "release/."},
        RefusalCase{.name = "ZipLibraryMissing",
                    .prepare = withProgramAndGuide,
                    .folder = "",
                    .version = "1.3.0",
                    .said = {"cannot load the zip32 library", "libzip32.so"},
                    .output = "web/fresh",
                    .libraryMissing = "libzip32.so"},
        // The updater reads the installed version from morvane.exe's first,
        // second and fourth part.
        RefusalCase{"ApplicationOfAnOlderFileVersion",
                    [](const auto& r) {
                        testsupport::writeVersionedExecutable(r / "morvane.exe", "1.2.0.5");
                    },
                    "",
                    "1.3.0",
                    {"morvane.exe has the file version 1.2.0.5, which the updater reads as 1.2.5",
                     "every user would be offered this update again at every start",
                     "file version 1.3.x.0"}},
        RefusalCase{"ApplicationOfANewerFileVersion",
                    [](const auto& r) {
                        testsupport::writeVersionedExecutable(r / "morvane.exe", "1.4.0.0");
                    },
                    "",
                    "1.3.0",
                    {"reads as 1.4.0", "offered no release up to it"}},
        RefusalCase{"OwnInstructionsMoveAFileThePackageLacks",
                    [](const auto& r) {
                        withProgramAndGuide(r);
                        writeFile(r / "updater.ini",
                                  "MOVE;guide.txt;APP_PATH\\docs\r\nMOVE;Help.chm;APP_PATH\r\n");
                    },
                    "",
                    "1.3.0",
                    {"updater.ini has the line \"MOVE;Help.chm;APP_PATH\"",
                     "is no file of the package", "stop there with \"File not found\""}},
        RefusalCase{"OwnInstructionsMoveAPatternThatTakesNothing",
                    [](const auto& r) {
                        withProgramAndGuide(r);
                        writeFile(r / "updater.ini", "move;*.dll;APP_PATH\r\n");
                    },
                    "",
                    "1.3.0",
                    {"\"move;*.dll;APP_PATH\"", "is no file of the package"}},
        // Every file is unpacked into the temp folder without its folder.
        RefusalCase{"OwnInstructionsMoveFromAFolder",
                    [](const auto& r) {
                        withProgramAndGuide(r);
                        writeFile(r / "updater.ini", "MOVE;docs\\guide.txt;APP_PATH\\docs\r\n");
                    },
                    "",
                    "1.3.0",
                    {"lies in a folder of the temp folder", "\"Path not found\""}},
        RefusalCase{"OlderThanTheServedVersion",
                    withProgramAndGuide,
                    "",
                    "1.1.9",
                    {"the served answer names 1.2.0, a newer version than 1.1.9",
                     "installations that have 1.2.0 would not be offered 1.1.9",
                     "give --replace-newer"}},
        RefusalCase{"TopFolderNamedLikeTheJournal",
                    [](const auto& r) {
                        withFile(r, "morvane.exe");
                        testsupport::TempDir::makeFolder(r / ".Updater-Journal");
                        withFile(r, ".Updater-Journal/state");
                    },
                    "",
                    "1.3.0",
                    {"cannot publish .Updater-Journal", "keeps the journal"}},
        RefusalCase{"TopFileNamedLikeTheJournal",
                    [](const auto& r) {
                        withFile(r, "morvane.exe");
                        withFile(r, ".UPDATER-JOURNAL");
                    },
                    "",
                    "1.3.0",
                    {"cannot publish .UPDATER-JOURNAL", "every update would fail"}}),
    testsupport::CaseName());

// A control character in a name is named with the character shown, before
// the zip library meets it.
INSTANTIATE_TEST_SUITE_P(ControlCharacters, PublisherRefuses,
                         ::testing::Values(RefusalCase{"InAFileName",
                                                       [](const auto& r) {
                                                           withFile(r, "morvane.exe");
                                                           withFile(r, "docs/bad\x01name.txt");
                                                       },
                                                       "",
                                                       "1.3.0",
                                                       {"cannot publish docs/bad\\x01name.txt"}},
                                           RefusalCase{"InAFolderName",
                                                       [](const auto& r) {
                                                           withFile(r, "morvane.exe");
                                                           testsupport::TempDir::makeFolder(
                                                               r / "old\x1f_docs");
                                                           withFile(r, "old\x1f_docs/a.txt");
                                                       },
                                                       "",
                                                       "1.3.0",
                                                       {"cannot publish old\\x1F_docs"}}),
                         testsupport::CaseName());

// Publishing over what is served: an older version, another key (the key
// rotation) or none where the served release is signed only when the
// publisher says it is meant, and then with a note of what changes; refused
// otherwise, the served files as they were.
TEST_F(PublisherTool, PublishingOverTheServedReleaseSaysWhatChanges) {
    withFile(release, "morvane.exe");
    const auto key = testsupport::makePublisherKey(scratch / "key.pem");
    const auto other = testsupport::makePublisherKey(scratch / "other.pem");
    const struct {
        const char* what;
        std::vector<std::string> options;
        const char* version;
        bool published;
        std::string said; // a note when published; what the refusal names else
    } cases[] = {
        {"an older version, meant",
         {"--key", key.privateKeyFile, "--replace-newer"},
         "1.2.9",
         true,
         "note: 1.2.9 replaces the newer 1.3.0 (--replace-newer): installations that have 1.3.0 "
         "keep it"},
        {"the same version again", {"--key", key.privateKeyFile}, "1.3.0", true, ""},
        {"another key", {"--key", other.privateKeyFile}, "1.3.1", false, "--replace-key"},
        {"no key", {}, "1.3.1", false, "--replace-key"},
        {"another key, meant",
         {"--key", other.privateKeyFile, "--replace-key"},
         "1.3.1",
         true,
         "note: the served release is signed by another key (" + key.publicKeyBase64 +
             ") than this one (" + other.publicKeyBase64 +
             "): updaters built with that key refuse this release"},
        {"no key, meant",
         {"--replace-key"},
         "1.3.1",
         true,
         "note: the served release is signed (by the key " + key.publicKeyBase64 +
             ") and this one is not: updaters built with a key refuse it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir output;
        const auto tool = [&](std::vector<std::string> arguments, const std::string& version) {
            arguments.insert(arguments.end(), {release.path(), version, output.path()});
            return runPublisher(arguments, scratch / "tool.out");
        };
        ASSERT_EQ(tool({"--key", key.privateKeyFile}, "1.3.0").status, 0);
        const testsupport::TreeSnapshot before = testsupport::snapshotTree(output.path(), {});

        const PublisherRun run = tool(c.options, c.version);

        if (!c.published) {
            EXPECT_EQ(run.status, 1) << run.output;
            EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
            EXPECT_EQ(
                testsupport::treeDifferences(before, testsupport::snapshotTree(output.path(), {})),
                "");
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(readFile(output / "clientfiles/morvane/version.php").substr(0, 5), c.version);
        const std::size_t note = run.output.find("note: the served");
        if (c.said.empty()) {
            EXPECT_EQ(run.output.find("replaces the newer"), std::string::npos) << run.output;
            EXPECT_EQ(note, std::string::npos) << run.output;
        } else {
            EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
        }
    }
}

// A run that is killed leaves its staging folder, unlocked once the run is
// gone; the next run removes it, and leaves alone the staging folder of a run
// still going (which holds its lock), and whatever else bears the prefix
// without being such a folder.
TEST_F(PublisherTool, NextRunRemovesWhatStoppedRunsLeftAndNothingOfALiveRun) {
    withFile(release, "morvane.exe");
    const std::string servedFolder = web / "clientfiles/morvane";
    testsupport::TempDir::makeFolder(web / "clientfiles");
    testsupport::TempDir::makeFolder(servedFolder);
    testsupport::TempDir elsewhere;
    struct Leftover {
        const char* name;
        std::function<void(const std::string& path)> make;
        bool removed;
    };
    int liveLock = -1; // held by this process, as by a run still going
    const auto stagingFolder = [](const std::string& path) {
        testsupport::TempDir::makeFolder(path);
        testsupport::TempDir::makeFolder(path + "/check");
        writeFile(path + "/morvane.zip", std::string(100000, 'z'));
        writeFile(path + "/check/morvane.exe", "program");
    };
    const std::vector<Leftover> leftovers{
        {".publishing-killed", stagingFolder, true},
        {".publishing-killedToo", stagingFolder, true},
        {".publishing-live",
         [&](const std::string& path) {
             stagingFolder(path);
             liveLock = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
             ASSERT_EQ(::flock(liveLock, LOCK_EX | LOCK_NB), 0);
         },
         false},
        {".publishing-file", [](const std::string& path) { writeFile(path, "a file"); }, false},
        {".publishing-link",
         [&](const std::string& path) {
             stagingFolder(elsewhere / "target");
             ASSERT_EQ(::symlink((elsewhere / "target").c_str(), path.c_str()), 0);
         },
         false},
    };
    for (const Leftover& leftover : leftovers) {
        leftover.make(servedFolder + "/" + leftover.name);
    }

    const PublisherRun run = publish(release.path(), "1.3.0");
    ::close(liveLock);

    ASSERT_EQ(run.status, 0) << run.output;
    for (const Leftover& leftover : leftovers) {
        const std::string path = servedFolder + "/" + leftover.name;
        EXPECT_EQ(std::filesystem::symlink_status(path).type() ==
                      std::filesystem::file_type::not_found,
                  leftover.removed)
            << leftover.name;
        EXPECT_EQ(run.output.find("removed " + path +
                                  ", left by an earlier run that was stopped") != std::string::npos,
                  leftover.removed)
            << run.output;
    }
    EXPECT_TRUE(exists(servedFolder + "/.publishing-live/morvane.zip"));
    EXPECT_TRUE(exists(elsewhere / "target/morvane.zip"));
    EXPECT_EQ(servedEntries(),
              (std::vector<std::string>{".publishing-file", ".publishing-link", ".publishing-live",
                                        "morvane.zip", "version.php"}));
}

// The dry run of an update: what a user of the old release fetches of the
// new package once only the entries an installation lacks travel, counted
// from the new archive by Python's zipfile; nothing is written.
TEST_F(PublisherTool, CompareCountsWhatAnUpdateFetches) {
    writeFile(release / "morvane.exe", "program 1.2.0");
    writeFile(release / "docs/guide.txt", std::string(20000, 'g'));
    writeFile(release / "docs/readme.txt", "readme");
    // Most of the package, unchanged: the changed files are worth fetching.
    const auto randomBytes = [](unsigned seed) {
        std::mt19937 random(seed);
        std::string bytes(300000, '\0');
        std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
        return bytes;
    };
    writeFile(release / "docs/pictures.bin", randomBytes(1));
    const auto key = testsupport::makePublisherKey(scratch / "key.pem");
    const auto publishKeyed = [&](const std::string& version) {
        const PublisherRun run =
            runPublisher({"--key", key.privateKeyFile, release.path(), version, web.path()},
                         scratch / "tool.out");
        ASSERT_EQ(run.status, 0) << run.output;
    };
    publishKeyed("1.2.0");
    std::filesystem::copy_file(served("morvane.zip"), scratch / "old.zip");
    writeFile(release / "morvane.exe", "program 1.3.0");
    publishKeyed("1.3.0");
    const std::string newPackage = served("morvane.zip");
    const std::string before = readFile(newPackage);
    // The instruction file stays in the temp folder: no user holds it.
    std::string fetched = manifestScript({"fetched", newPackage, "morvane.exe", "updater.ini"});
    fetched.pop_back();
    const auto withThousands = [](std::string digits) {
        for (std::size_t at = digits.size(); at > 3; at -= 3) {
            digits.insert(at - 3, 1, ',');
        }
        return digits;
    };

    PublisherRun run = runPublisher({"--compare", scratch / "old.zip", newPackage}, scratch / "c");

    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("a user of 1.2.0 fetches " + withThousands(fetched) + " of " +
                              withThousands(std::to_string(before.size())) + " bytes ("),
              std::string::npos)
        << run.output << fetched;
    EXPECT_NE(run.output.find("): 2 of 5 files, the directory and the manifest\n  morvane.exe  "),
              std::string::npos)
        << run.output;
    // The last line: what the updater takes, as it decides.
    EXPECT_TRUE(run.output.ends_with(
        "so a user of the old release fetches the changed files, " + withThousands(fetched) +
        " bytes, with an updater built with the key and a version "
        "answer that names the manifest (else the whole package, " +
        withThousands(std::to_string(before.size())) + " bytes); nothing was written\n"))
        << run.output;
    EXPECT_EQ(readFile(newPackage), before);
    EXPECT_EQ(servedEntries(), (std::vector<std::string>{"morvane.zip", "version.php"}));

    // With nearly every byte changed the updater takes the whole package.
    writeFile(release / "docs/pictures.bin", randomBytes(2));
    publishKeyed("1.3.1");
    run = runPublisher({"--compare", scratch / "old.zip", newPackage}, scratch / "c");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(
        run.output.ends_with("so a user of the old release downloads the whole package, " +
                             withThousands(std::to_string(std::filesystem::file_size(newPackage))) +
                             " bytes (that is nearly all of it); nothing was written\n"))
        << run.output;

    // A package from before packages carried a manifest is downloaded whole.
    testsupport::buildPackage(scratch / "plain.zip", {{"morvane.exe", "program"}});
    run = runPublisher({"--compare", scratch / "old.zip", scratch / "plain.zip"}, scratch / "c");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("carries no manifest: every user downloads it whole"),
              std::string::npos)
        << run.output;
    run = runPublisher({"--compare", scratch / "plain.zip", newPackage}, scratch / "c");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("cannot compare: "), std::string::npos) << run.output;
    run = runPublisher({"--compare", newPackage}, scratch / "c");
    EXPECT_EQ(run.status, 2) << run.output;
}

TEST_F(PublisherTool, OutputThatIsNoFolderIsRefused) {
    withFile(release, "a.txt");
    writeFile(web / "clientfiles", "a file where a folder should be");
    const PublisherRun run = publish(release.path(), "1.3.0");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("cannot write to"), std::string::npos) << run.output;
}

// The zip library takes the release's root upper-cased and finds it without
// regard to case, preferring an exact match: a folder of the same name in
// capitals beside the release is what it packs. The test of the package
// catches that before anything is served.
TEST_F(PublisherTool, PackageOfOtherFilesThanTheReleaseIsNeverServed) {
    testsupport::TempDir parent;
    testsupport::TempDir::makeFolder(parent / "rel");
    testsupport::TempDir::makeFolder(parent / "REL");
    writeFile(parent / "rel/morvane.exe", "the release");
    writeFile(parent / "REL/morvane.exe", "something else");

    const PublisherRun run = publish(parent / "rel", "1.3.0");

    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("does not hold morvane.exe as it is"), std::string::npos)
        << run.output;
    EXPECT_FALSE(exists(served("morvane.zip")));
    EXPECT_FALSE(exists(served("version.php")));
}

} // namespace
