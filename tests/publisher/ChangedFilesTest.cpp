// The update that fetches only the changed files, against a server that
// lies about the package's directory while the signed release line and the
// manifest it names stay true: a release published by the tool, installed
// over the one before it by the real updater in its real window.
#include "PublisherRun.h"

#include "delta/LocalPackage.h"
#include "testsupport/CaseName.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/ScriptedHttpServer.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

const std::string packagePath = "/clientfiles/morvane/morvane.zip";

void put32(std::string& bytes, std::size_t at, std::uint64_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

// Release 1.3.n: morvane.exe and files of random bytes shared by every
// release; from 1.3.2 on, a helper script and a text file as well.
void makeRelease(const std::string& folder, int n, std::size_t sharedBytes) {
    testsupport::writeVersionedExecutable(folder + "/morvane.exe",
                                          "1.3." + std::to_string(n) + ".0");
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
struct Publication {
    testsupport::TempDir web;
    testsupport::TempDir scratch;
    testsupport::TempDir root;
    testsupport::TempDir release;
    testsupport::PublisherKey key;
    std::string install;
    std::string package;

    explicit Publication(std::size_t sharedBytes)
        : key(testsupport::makePublisherKey(scratch / "key.pem")), install(root / "Morvane"),
          package(web / "clientfiles/morvane/morvane.zip") {
        makeRelease(release.path(), 2, sharedBytes);
        const PublisherRun run =
            runPublisher({"--key", key.privateKeyFile, release.path(), "1.3.2", web.path()},
                         scratch / "publish.out");
        EXPECT_EQ(run.status, 0) << run.output;
        testsupport::TempDir::makeFolder(install);
        makeRelease(install, 1, sharedBytes);
    }

    int runUpdater(const std::string& host) {
        testsupport::ChildProcess updater(
            {QT_UPDATE_CHILD, install, host, REAL_UNZIP32_FOLDER, "", key.publicKeyBase64},
            scratch / "updater.out");
        return updater.exitStatusWithin(std::chrono::seconds(60));
    }
};

bool executable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

// A helper published 0755 and a text file published 0644, their central
// records rewritten to say the opposite: each is installed with the mode
// the signed manifest lists, through the changed files alone.
TEST(ChangedFiles, AreInstalledWithTheManifestsModesWhateverTheDirectorySays) {
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

    ASSERT_EQ(published.runUpdater(nginx.host()), 0) << readFile(published.scratch / "updater.out");
    EXPECT_TRUE(executable(published.install + "/bin/helper.sh"));
    EXPECT_FALSE(executable(published.install + "/notes.txt"));
    EXPECT_EQ(readFile(published.install + "/bin/helper.sh"),
              readFile(published.release / "bin/helper.sh"));
    // Only ranges: the package with its rewritten directory would not pass
    // the signature check of a whole download.
    nginx.stop();
    EXPECT_EQ(nginx.accessLog().find("\"bytes=0-\""), std::string::npos) << nginx.accessLog();
}

// The package as it is to a request for the whole of it, and rewritten for
// every range request, all bytes sent counted.
class TwoFacedServer {
public:
    TwoFacedServer(std::string version, std::string whole, std::string ranged)
        : m_version(std::move(version)), m_whole(std::move(whole)), m_ranged(std::move(ranged)),
          m_server([this](const std::string& head, testsupport::ServerConnection& c) {
              answer(head, c);
          }) {}

    std::string host() const { return m_server.host(); }
    std::uint64_t packageBytesSent() const { return m_sent; }

private:
    void answer(const std::string& head, testsupport::ServerConnection& c) {
        const std::string path = testsupport::requestPath(head);
        if (path != packagePath) {
            c.send("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                   std::to_string(m_version.size()) + "\r\n\r\n" + m_version);
            return;
        }
        const std::size_t range = head.find("Range: bytes=");
        const bool whole = head.find("Range: bytes=0-\r\n") != std::string::npos;
        const std::string& package = whole ? m_whole : m_ranged;
        std::uint64_t first = 0;
        std::uint64_t last = package.size() - 1;
        if (!whole && range != std::string::npos) {
            first = std::stoull(head.substr(range + 13));
            last = std::stoull(head.substr(head.find('-', range + 13) + 1));
        }
        c.send("HTTP/1.1 206 Partial Content\r\nConnection: close\r\nContent-Length: " +
               std::to_string(last - first + 1) + "\r\nContent-Range: bytes " +
               std::to_string(first) + "-" + std::to_string(last) + "/" +
               std::to_string(package.size()) + "\r\n\r\n");
        constexpr std::uint64_t piece = 64 * 1024;
        for (std::uint64_t at = first; at <= last; at += piece) {
            const std::uint64_t length = std::min(piece, last + 1 - at);
            if (!c.send(package.substr(at, length))) {
                return;
            }
            m_sent += length;
        }
    }

    std::string m_version;
    std::string m_whole;
    std::string m_ranged;
    std::atomic<std::uint64_t> m_sent{0};
    testsupport::ScriptedHttpServer m_server;
};

// The package's directory cut down to the manifest's record, the package
// kept at its size by the end record's comment: the manifest's span then
// runs over every other entry, to the directory. With claimWhole, the
// manifest's record says it is that long too.
std::string manifestAlone(const std::string& package, const delta::PackageDirectory& directory,
                          bool claimWhole) {
    const delta::DirectoryEntry& manifest = directory.entries[directory.find("morvane.manifest")];
    std::string record = package.substr(manifest.recordOffset, manifest.recordSize);
    if (claimWhole) {
        const std::uint64_t size = directory.directoryOffset - 30 - manifest.name.size() - 1000;
        put32(record, 20, size);
        put32(record, 24, size);
    }
    std::string bytes = package.substr(0, directory.directoryOffset) + record;
    std::string end(22, '\0');
    end.replace(0, 4, "PK\x05\x06");
    end[8] = end[10] = 1;
    put32(end, 12, record.size());
    put32(end, 16, directory.directoryOffset);
    const std::size_t comment = package.size() - bytes.size() - end.size();
    end[20] = static_cast<char>(comment & 0xff);
    end[21] = static_cast<char>(comment >> 8);
    return bytes + end + std::string(comment, ' ');
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
    const std::string ranged = manifestAlone(package, directory, GetParam().claimWhole);
    ASSERT_EQ(ranged.size(), package.size());
    TwoFacedServer server(readFile(published.web / "clientfiles/morvane/version.php"), package,
                          ranged);

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
