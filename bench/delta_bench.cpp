// What an update of a large release costs when only some of its files
// changed, and what a download interrupted again and again costs, through
// the real window offscreen against nginx on loopback at a network's rate.
//
//   delta_bench [--size 256] [--files 2000] [--changed 1] [--rounds 3]
//               [--rate 100] [--interruptions 10] [--hostile yes [--program PATH]]
//               [--large byte|insert]
//
// The installation holds release A (size MiB over files files, as the
// archive benchmarks make them, and morvane.exe); release B changes
// --changed percent of its files and the executable, and is published by
// the publisher's tool with a key, so that its package carries a manifest.
// Each round updates a fresh copy of A to B twice, alternating: once from
// a server whose signed answer names the manifest (only the changed files
// travel) and once from one whose answer does not (the whole package, as
// an updater does that cannot fetch pieces). Bytes fetched come from
// nginx's access log. Then the whole package is downloaded by a run that
// is killed --interruptions times along the way and a last run that
// finishes it: every byte nginx sent, against the package's size.
//
// --large byte|insert makes releases of one large file in place of the
// many (--size MiB, half text that compresses and half random bytes, and
// morvane.exe): B has one byte of it changed in the middle, or 1 KiB
// inserted at a tenth of its length, so that only its changed chunks
// travel.
//
// --hostile yes measures, in place of the rest, one update from a server
// that sends the whole package as published but, to every other range
// request, the package with its directory cut down to the manifest's record
// (whose span then covers the package), against one changed-files update
// from nginx: the updater's peak memory and the bytes sent. --program names
// another build of the test start-up program to measure (an earlier
// commit's tests/qt_update_child, say).

#include "BenchSupport.h"
#include "delta/LocalPackage.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PacedRelay.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/TempDir.h"
#include "testsupport/TwoFacedServer.h"
#include "testsupport/VersionedExecutable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Every file below a folder as its path relative to it.
std::vector<std::string> filesBelow(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.push_back(fs::relative(entry.path(), folder).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Release B from A: every hundredth-by-percent file gets new bytes of its size.
int changeFiles(const std::string& folder, int percent) {
    std::mt19937_64 random(42);
    int changed = 0;
    const std::vector<std::string> files = filesBelow(folder);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i] == "morvane.exe" ||
            (i * static_cast<std::size_t>(percent)) % 100 >= static_cast<std::size_t>(percent)) {
            continue;
        }
        const std::string path = folder + "/" + files[i];
        std::string bytes(fs::file_size(path), '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(random());
        }
        testsupport::writeFile(path, bytes);
        ++changed;
    }
    return changed;
}

// The bytes of every answer of the package (206 and 200 lines), from the
// access log.
std::uint64_t packageBytes(const std::string& log) {
    std::uint64_t bytes = 0;
    std::size_t start = 0;
    for (std::size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = log.substr(start, end - start);
        if (line.find("\"-\"") == std::string::npos) {
            bytes += std::stoull(line.substr(4));
        }
    }
    return bytes;
}

bool sameTree(const std::string& a, const std::string& b) {
    const std::vector<std::string> files = filesBelow(b);
    if (filesBelow(a) != files) {
        return false;
    }
    for (const std::string& file : files) {
        if (!bench::sameFiles(a + "/" + file, b + "/" + file)) {
            return false;
        }
    }
    return true;
}

void freshCopy(const std::string& release, const std::string& install) {
    fs::remove_all(install);
    fs::copy(release, install, fs::copy_options::recursive);
    ::sync();
}

// The changed-files update from nginx and from a server whose directory
// lies to range requests: peak memory, bytes sent, and whether the
// installation ends as release B.
int measureHostile(const std::string& work, const std::string& releaseA,
                   const std::string& releaseB, const std::string& deltaRoot,
                   const std::string& key, const std::string& program) {
    const std::string served = deltaRoot + "/clientfiles/morvane";
    const std::string ranged = work + "/ranged.zip";
    const auto size = static_cast<double>(fs::file_size(served + "/morvane.zip"));
    {
        const delta::PackageDirectory directory =
            delta::readLocalPackage(served + "/morvane.zip").directory;
        const delta::DirectoryEntry& manifest =
            directory.entries[directory.find("morvane.manifest")];
        testsupport::writeFile(
            ranged,
            testsupport::withOneRecord(
                testsupport::readFile(served + "/morvane.zip"),
                {directory.directoryOffset, manifest.recordOffset, manifest.recordSize}, false));
    } // nothing of the package held while the updater runs: it would count
      // in the updater's peak
    testsupport::TwoFacedServer hostile(testsupport::readFile(served + "/version.php"),
                                        served + "/morvane.zip", ranged);
    testsupport::NginxServer honest(deltaRoot);
    const std::string install = work + "/install";
    bool ok = true;
    bench::Sample samples[2];
    for (int turn = 0; turn < 2; ++turn) {
        freshCopy(releaseA, install);
        samples[turn] = bench::run(
            {program, install, turn == 0 ? hostile.host() : honest.host(), UNZIP32_FOLDER, "", key},
            work + "/update.out");
        ok = ok && sameTree(install, releaseB);
    }
    honest.stop();
    const double sent = static_cast<double>(hostile.packageBytesSent());
    std::printf("package %.1f MiB; hostile directory: peak %.1f MiB, %.1f MiB sent (%.2f of the "
                "package), %.3f s; changed files from nginx: peak %.1f MiB, %.3f s; installation "
                "exactly release B both ways: %s\n",
                size / bench::mebi, samples[0].rssMiB, sent / bench::mebi, sent / size,
                samples[0].wall, samples[1].rssMiB, samples[1].wall, ok ? "yes" : "NO");
    return ok ? 0 : 1;
}

// Release B's large file: changed as --large says.
void changeLargeFile(const std::string& path, const std::string& change) {
    std::string bytes = testsupport::readFile(path);
    if (change == "insert") {
        bytes.insert(bytes.size() / 10, std::string(1024, 'k'));
    } else {
        bytes[bytes.size() / 2] ^= 0x20;
    }
    testsupport::writeFile(path, bytes);
}

// Releases A and B: the files changed in B, counted.
int makeReleases(const std::string& releaseA, const std::string& releaseB, int sizeMiB,
                 int fileCount, int percent, const std::string& large) {
    if (large.empty()) {
        bench::makeFiles(releaseA, sizeMiB, fileCount);
    } else {
        fs::create_directories(releaseA + "/data");
        testsupport::writeFile(releaseA + "/data/large.bin",
                               testsupport::halfTextHalfRandom(std::size_t(sizeMiB) << 20, 7));
    }
    testsupport::writeVersionedExecutable(releaseA + "/morvane.exe", "1.2.0.0");
    fs::copy(releaseA, releaseB, fs::copy_options::recursive);
    testsupport::writeVersionedExecutable(releaseB + "/morvane.exe", "1.3.0.0");
    if (large.empty()) {
        return changeFiles(releaseB, percent);
    }
    changeLargeFile(releaseB + "/data/large.bin", large);
    return 1;
}

int measure(int sizeMiB, int fileCount, int percent, int rounds, std::uint64_t rate,
            int interruptions, const std::string& large, const std::string& hostileProgram) {
    testsupport::TempDir work;
    bench::useOffscreenWindows(work.path());
    const std::string releaseA = work / "A";
    const std::string releaseB = work / "B";
    const int changed = makeReleases(releaseA, releaseB, sizeMiB, fileCount, percent, large);

    const auto key = testsupport::makePublisherKey(work / "key.pem");
    const std::string deltaRoot = work / "www";
    const bench::Sample publishing =
        bench::run({MORVANE_PUBLISH, "--key", key.privateKeyFile, releaseB, "1.3.0", deltaRoot},
                   work / "publish.out");
    (void)publishing;
    if (!hostileProgram.empty()) {
        return measureHostile(work.path(), releaseA, releaseB, deltaRoot, key.publicKeyBase64,
                              hostileProgram);
    }
    // The same package, announced by a signed answer without the manifest.
    const std::string served = deltaRoot + "/clientfiles/morvane";
    const std::string wholeRoot = work / "www-whole";
    fs::create_directories(wholeRoot + "/clientfiles/morvane");
    fs::copy_file(served + "/morvane.zip", wholeRoot + "/clientfiles/morvane/morvane.zip");
    const auto identity = signature::identifyPackage(served + "/morvane.zip");
    testsupport::writeFile(
        wholeRoot + "/clientfiles/morvane/version.php",
        "1.3.0\r\n" + signature::formatReleaseLine(signature::signRelease(
                          "1.3.0", identity.size, identity.sha512, std::time(nullptr) + 86400,
                          signature::SigningKey::fromFile(key.privateKeyFile))));

    testsupport::NginxServer deltaServer(deltaRoot, rate);
    testsupport::NginxServer wholeServer(wholeRoot, rate);
    const std::string install = work / "install";
    std::vector<double> deltaWall, wholeWall, ratios, deltaCpu, wholeCpu;
    const double packageSize = static_cast<double>(identity.size);
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        double wall[2] = {0, 0};
        double cpu[2] = {0, 0};
        for (int turn = 0; turn < 2; ++turn) {
            const bool delta = (turn + round) % 2 == 0;
            freshCopy(releaseA, install);
            const bench::Sample s = bench::run({QT_UPDATE_CHILD, install,
                                                delta ? deltaServer.host() : wholeServer.host(),
                                                UNZIP32_FOLDER, "", key.publicKeyBase64},
                                               work / "update.out");
            wall[delta ? 0 : 1] = s.wall;
            cpu[delta ? 0 : 1] = s.cpu;
            ok = ok && sameTree(install, releaseB);
        }
        deltaWall.push_back(wall[0]);
        deltaCpu.push_back(cpu[0]);
        wholeCpu.push_back(cpu[1]);
        wholeWall.push_back(wall[1]);
        ratios.push_back(wall[0] / wall[1]);
    }
    deltaServer.stop();
    wholeServer.stop();
    if (rounds > 0) {
        const double fetched = static_cast<double>(packageBytes(deltaServer.accessLog())) / rounds;
        const double whole = static_cast<double>(packageBytes(wholeServer.accessLog())) / rounds;

        std::printf("release %d MiB in %d files, %d changed%s; package %.1f MiB; server %s\n",
                    sizeMiB, large.empty() ? fileCount : 1, changed,
                    large.empty()       ? ""
                    : large == "insert" ? " (1 KiB inserted at a tenth of the large file)"
                                        : " (one byte of the large file)",
                    packageSize / bench::mebi,
                    rate == 0 ? "unlimited" : (std::to_string(rate / 1000000) + " MB/s").c_str());
        std::printf("%-22s %12s %9s %9s %9s\n", "update", "fetched MiB", "of pkg", "wall s",
                    "CPU s");
        std::printf("%-22s %12.2f %8.2f%% %9.3f %9.3f\n", "changed files only",
                    fetched / bench::mebi, 100 * fetched / packageSize, bench::median(deltaWall),
                    bench::median(deltaCpu));
        std::printf("%-22s %12.2f %8.2f%% %9.3f %9.3f\n", "whole package", whole / bench::mebi,
                    100 * whole / packageSize, bench::median(wholeWall), bench::median(wholeCpu));
        std::printf("time ratio %.3f (paired %.3f), CPU ratio %.3f, medians of %d rounds; "
                    "installation exactly release B both ways: %s\n",
                    bench::median(deltaWall) / bench::median(wholeWall), bench::median(ratios),
                    bench::median(deltaCpu) / bench::median(wholeCpu), rounds, ok ? "yes" : "NO");
    }

    if (interruptions == 0) {
        return ok ? 0 : 1;
    }
    // One download, killed along the way, then finished; the relay counts
    // what reached the updater, nginx what it handed its socket.
    testsupport::NginxServer resumeServer(wholeRoot, rate);
    const testsupport::PacedRelay relay(resumeServer.port(), 0,
                                        testsupport::PacedRelay::ClientBuffer::smallest);
    freshCopy(releaseA, install);
    const std::string package = install + "/temp/morvane.zip";
    for (int cut = 1; cut <= interruptions; ++cut) {
        const auto at = static_cast<std::uintmax_t>(packageSize * cut / (interruptions + 1));
        testsupport::ChildProcess child(
            {QT_UPDATE_CHILD, install, relay.host(), UNZIP32_FOLDER, "", key.publicKeyBase64},
            work / "resume.out");
        while (child.running() && !(fs::exists(package) && fs::file_size(package) >= at)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    } // each killed as it goes
    bench::run({QT_UPDATE_CHILD, install, relay.host(), UNZIP32_FOLDER, "", key.publicKeyBase64},
               work / "resume.out");
    resumeServer.stop();
    const double resumed = static_cast<double>(packageBytes(resumeServer.accessLog()));
    const bool resumedOk = sameTree(install, releaseB);
    const double delivered = static_cast<double>(relay.delivered());
    std::printf("%d interruptions: %.2f MiB fetched for a %.2f MiB package, %.4f of its size "
                "(nginx's count); %.2f MiB reached the updater, %.4f of its size (headers and "
                "version answers too); installation exactly release B: %s\n",
                interruptions, resumed / bench::mebi, packageSize / bench::mebi,
                resumed / packageSize, delivered / bench::mebi, delivered / packageSize,
                resumedOk ? "yes" : "NO");
    return ok && resumedOk ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return measure(bench::countOption(argc, argv, "--size", 256),
                       bench::countOption(argc, argv, "--files", 2000),
                       bench::countOption(argc, argv, "--changed", 1),
                       std::max(0, std::stoi(bench::option(argc, argv, "--rounds", "3"))),
                       std::stoull(bench::option(argc, argv, "--rate", "100")) * 1000 * 1000,
                       std::max(0, std::stoi(bench::option(argc, argv, "--interruptions", "10"))),
                       bench::option(argc, argv, "--large", ""),
                       bench::option(argc, argv, "--hostile", "no") == "yes"
                           ? bench::option(argc, argv, "--program", QT_UPDATE_CHILD)
                           : "");
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "delta_bench: %s\n", failure.what());
        return 1;
    }
}
