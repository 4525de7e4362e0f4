#pragma once

// The scenarios every matrix runs through the real window, up to what each
// matrix checks of its own: the releases published for a first install, an
// update by the changed files and a download killed part way, and the
// updater's runs. Needs QT_UPDATE_CHILD and REAL_UNZIP32_FOLDER.

#include "MatrixReleases.h"
#include "PublisherRun.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/VersionedExecutable.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace matrix {

// The random part of the release whose download is killed, and the pace of
// its first download: a third of it arrives in about half a second.
constexpr std::size_t randomSize = 4 << 20;
constexpr std::uint64_t pacedRate = 3 << 20;

// What one run of the updater left.
struct Ran {
    int status = -1;
    std::string said;
    std::string noted;
    double seconds = 0;
};

inline Ran runUpdater(KeyedPublication& published, const std::string& host,
                      const testsupport::Environment& environment = testsupport::withoutProxies()) {
    const auto start = std::chrono::steady_clock::now();
    Ran ran;
    ran.status = published.runUpdater(host, environment);
    ran.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ran.said = readFile(published.scratch / "updater.out");
    ran.noted = noteOf(published);
    return ran;
}

inline std::string figure(const std::string& name, double value) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(2) << name << "=" << value;
    return text.str();
}

// The first install: release 1.3.2 published over an installation of
// nothing but an older executable.
inline void prepareFirstInstall(KeyedPublication& published) {
    makeRelease(published.release.path(), 2);
    published.publish();
    testsupport::writeVersionedExecutable(published.install + "/morvane.exe", "1.2.0.5");
}

// The update by the changed files: release 1.3.2 over an installation of
// the release before it.
inline void prepareChangedFiles(KeyedPublication& published) {
    makeRelease(published.release.path(), 2);
    published.publish();
    makeRelease(published.install, 1);
}

// A release whose package cannot be packed small, published a minute ago
// over an older executable: what is left to fetch after a cut is about what
// was not yet fetched.
inline void prepareKilledDownload(KeyedPublication& published) {
    const std::string folder = published.release.path();
    testsupport::writeVersionedExecutable(folder + "/morvane.exe", "1.3.0.2");
    chmod((folder + "/morvane.exe").c_str(), 0755);
    testsupport::TempDir::makeFolder(folder + "/data");
    writeFile(folder + "/data/random.bin", testsupport::halfTextHalfRandom(2 * randomSize, 11));
    published.publish();
    publishedAMinuteAgo(published.web.path());
    testsupport::writeVersionedExecutable(published.install + "/morvane.exe", "1.2.0.5");
}

// Waits until the file at path holds at least bytes, the child has ended
// or a while has passed.
inline void waitForBytes(const std::string& path, std::uint64_t bytes,
                         testsupport::ChildProcess& child) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (std::error_code ec; fs::file_size(path, ec) < bytes || ec;) {
        if (!child.running() || std::chrono::steady_clock::now() > until) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Starts the updater against host and kills it once about a third of the
// package is kept; the length kept.
inline std::uint64_t
killOnceAThirdIsKept(KeyedPublication& published, const std::string& host,
                     const testsupport::Environment& environment = testsupport::withoutProxies()) {
    const std::string part = published.install + "/temp/morvane.zip";
    {
        testsupport::ChildProcess killed({QT_UPDATE_CHILD, published.install, host,
                                          REAL_UNZIP32_FOLDER, "", published.key.publicKeyBase64},
                                         published.scratch / "killed.out", environment);
        waitForBytes(part, fs::file_size(published.package) / 3, killed);
    } // killed here
    EXPECT_TRUE(testsupport::exists(part)) << readFile(published.scratch / "killed.out");
    std::error_code ec;
    const std::uintmax_t kept = fs::file_size(part, ec);
    return ec ? 0 : kept;
}

} // namespace matrix
