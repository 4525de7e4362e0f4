// The update that fetches only the changed files, against a server that
// lies about the package's directory or its entries while the signed release
// line and the manifest it names stay true: a release published by the
// tool, installed over the one before it by the real updater in its real
// window.
#include "PublisherRun.h"

#include "delta/LocalPackage.h"
#include "testsupport/CaseName.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/TempDir.h"
#include "testsupport/TwoFacedServer.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

void put32(std::string& bytes, std::size_t at, std::uint64_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

// Release 1.3.n: morvane.exe and files of random bytes shared by every
// release; from 1.3.2 on, a helper script and a text file as well.
void makeRelease(const std::string& folder, int n, std::size_t sharedBytes) {
    testsupport::writeVersionedExecutable(folder + "/morvane.exe", "1.3.0." + std::to_string(n));
    chmod((folder + "/morvane.exe").c_str(), 0755);
    testsupport::TempDir::makeFolder(folder + "/data");
    std::mt19937 random(7);
    for (int file = 0; file < 20; ++file) {
        std::string bytes(sharedBytes / 20, '\0');
        std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
        writeFile(folder + "/data/f" + std::to_string(file) + ".bin", bytes);
    }
    if (n >= 2) {
        testsupport::TempDir::makeFolder(folder + "/bin");
        writeFile(folder + "/bin/helper.sh", "#!/bin/sh\necho helper\n");
        chmod((folder + "/bin/helper.sh").c_str(), 0755);
        writeFile(folder + "/notes.txt", "notes\n");
        chmod((folder + "/notes.txt").c_str(), 0644);
    }
}

// 1.3.1 installed, 1.3.2 published with the key; the served package's path.
struct Publication : KeyedPublication {
    explicit Publication(std::size_t sharedBytes) {
        makeRelease(release.path(), 2, sharedBytes);
        publish();
        makeRelease(install, 1, sharedBytes);
    }
};

bool executable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

// A helper published 0755 and a text file published 0644, their central
// records rewritten on the server to say the opposite: the directory is not
// the one the signed release line names, so the changed files are not
// taken, and the whole package, whose bytes are not the signed ones either,
// is refused; nothing is installed.
TEST(ChangedFiles, AreRefusedWhenTheDirectoryIsNotTheSignedOne) {
    Publication published(512 * 1024);
    const delta::PackageDirectory directory = delta::readLocalPackage(published.package).directory;
    std::string bytes = readFile(published.package);
    for (const auto& [name, mode] :
         {std::pair{"bin/helper.sh", 0100644u}, {"notes.txt", 0100755u}}) {
        const std::size_t index = directory.find(name);
        ASSERT_LT(index, directory.entries.size()) << name;
        put32(bytes, directory.entries[index].recordOffset + 38, std::uint64_t{mode} << 16);
    }
    writeFile(published.package, bytes);
    testsupport::NginxServer nginx(published.web.path());

    EXPECT_NE(published.runUpdater(nginx.host()), 0);
    EXPECT_FALSE(fs::exists(published.install + "/bin/helper.sh"));
    EXPECT_FALSE(fs::exists(published.install + "/notes.txt"));
    nginx.stop();
    EXPECT_NE(nginx.accessLog().find("\"bytes=0-\""), std::string::npos) << nginx.accessLog();
}

struct HostileCase {
    const char* name;
    bool claimWhole;
};

class HostileDirectory : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileDirectory, IsRefusedBeforeAnyLargeFetchAndTheWholePackageComes) {
    Publication published(4 * 1024 * 1024);
    const std::string package = readFile(published.package);
    const delta::PackageDirectory directory = delta::readLocalPackage(published.package).directory;
    const delta::DirectoryEntry& manifest = directory.entries[directory.find("morvane.manifest")];
    const std::string ranged = published.scratch / "ranged.zip";
    writeFile(ranged,
              testsupport::withOneRecord(
                  package, {directory.directoryOffset, manifest.recordOffset, manifest.recordSize},
                  GetParam().claimWhole));
    ASSERT_EQ(fs::file_size(ranged), package.size());
    testsupport::TwoFacedServer server(readFile(published.web / "clientfiles/morvane/version.php"),
                                       published.package, ranged);

    ASSERT_EQ(published.runUpdater(server.host()), 0)
        << readFile(published.scratch / "updater.out");
    EXPECT_EQ(readFile(published.install + "/data/f3.bin"),
              readFile(published.release / "data/f3.bin"));
    EXPECT_TRUE(executable(published.install + "/bin/helper.sh"));
    // The package's tail, then the whole package once: never the span.
    EXPECT_LT(server.packageBytesSent(), package.size() + 128 * 1024);
}

INSTANTIATE_TEST_SUITE_P(Directories, HostileDirectory,
                         ::testing::Values(HostileCase{"ManifestAlone", false},
                                           HostileCase{"ManifestClaimingThePackage", true}),
                         testsupport::CaseName());

} // namespace
