// Times DownloadFile, driven through the real Qt window offscreen, against
// `curl -s -o` of the same package from nginx on loopback, alternating the
// two, with the server limited to 100 MB/s and unlimited. Prints wall-time
// ratios, CPU seconds per GiB and the peak resident memory of a download.
//
//   download_bench [--sizes 16,256,1024] [--rounds 3]
//
// Each download runs in a process of its own, so that its peak memory is
// its own.

#include "BenchSupport.h"
#include "platform/SystemServices.h"
#include "platform/qt/QtToolkit.h"
#include "platform/qt/QtUpdaterWindow.h"
#include "run/frmUpdater.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/NginxServer.h"
#include "testsupport/TempDir.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

using updater::frmUpdater;
using updater::UpdaterSettings;

namespace {

using bench::median;
using bench::now;
using bench::Sample;
using bench::seconds;

constexpr double mebi = 1024.0 * 1024.0;
constexpr double gibi = mebi * 1024.0;
constexpr std::uint64_t linkRate = 100'000'000; // bytes per second

// One DownloadFile in this process; writes "wall cpu peak-KiB" to report.
int downloadOnce(const std::string& url, const std::string& installFolder,
                 const std::string& report) {
    int argc = 1;
    char name[] = "download_bench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    platform::QtToolkit toolkit;
    platform::QtUpdaterWindow window;
    platform::SystemServices services;
    frmUpdater form(toolkit, window, services,
                    UpdaterSettings{installFolder, "unused", "unused", ""});
    form.Form_Load();
    window.showCentred();
    window.ProgressBar1().setValue(0);
    window.ProgressBar1().setVisible(true);
    QCoreApplication::processEvents();

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const double start = now();
    try {
        form.DownloadFile(url, form.paths().packageFile());
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "DownloadFile failed: %s\n", failure.what());
        return 1;
    }
    const double wall = now() - start;
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const double cpu = seconds(after.ru_utime) + seconds(after.ru_stime) -
                       seconds(before.ru_utime) - seconds(before.ru_stime);
    std::ofstream(report) << wall << ' ' << cpu << ' ' << after.ru_maxrss << '\n';
    return 0;
}

Sample runDownloadFile(const std::string& self, const std::string& url,
                       const std::string& installFolder, const std::string& work) {
    const std::string report = work + "/report.txt";
    bench::run({self, "--one", url, installFolder, report}, work + "/output.txt");
    Sample sample;
    std::ifstream in(report);
    long peakKiB = 0;
    in >> sample.wall >> sample.cpu >> peakKiB;
    sample.rssMiB = static_cast<double>(peakKiB) / 1024.0;
    return sample;
}

void writePackage(const std::string& path, std::uint64_t size) {
    std::vector<std::uint64_t> block(1 << 17);
    std::uint64_t state = 0x9e3779b97f4a7c15ULL ^ size;
    std::ofstream out(path, std::ios::binary);
    for (std::uint64_t written = 0; written < size;) {
        for (auto& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const auto bytes = std::min<std::uint64_t>(size - written, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(bytes));
        written += bytes;
    }
}

// Names the files in the watched temporary folder, and those in the
// installation folder but the temp folder with the package file.
std::vector<std::string> writtenBeside(const std::string& install, const std::string& watched) {
    std::vector<std::string> strays;
    for (const std::string& folder : {install, watched}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            const std::string path = entry.path().string();
            if (path != install + "/temp" && path != install + "/temp/morvane.zip") {
                strays.push_back(path);
            }
        }
    }
    return strays;
}

std::vector<int> parseSizes(const std::string& text) {
    std::vector<int> sizes;
    std::stringstream in(text);
    for (std::string piece; std::getline(in, piece, ',');) {
        sizes.push_back(std::stoi(piece));
    }
    return sizes;
}

int compare(const std::string& self, const std::vector<int>& sizesMiB, int rounds) {
    testsupport::TempDir work;
    const std::string root = work / "www";
    const std::string install = work / "install";
    std::filesystem::create_directories(root);
    std::filesystem::create_directories(install + "/temp");
    bench::useOffscreenWindows(work.path());
    for (int size : sizesMiB) {
        writePackage(root + "/p" + std::to_string(size) + ".zip",
                     static_cast<std::uint64_t>(size) * 1024 * 1024);
    }
    testsupport::NginxServer limited(root, linkRate);
    testsupport::NginxServer unlimited(root);
    // The system's temporary folder of the downloads, watched: nothing but
    // the package file may be written.
    const std::string watched = work / "tmp";
    std::filesystem::create_directory(watched);
    setenv("TMPDIR", watched.c_str(), 1);

    std::printf("%-9s %-9s %10s %10s %7s %12s %12s %10s %10s\n", "package", "link", "Download s",
                "curl s", "ratio", "CPU s/GiB", "curl CPU", "peak MiB", "curl MiB");
    bool ok = true;
    for (const auto* server : {&limited, &unlimited}) {
        for (int size : sizesMiB) {
            const std::string file = "/p" + std::to_string(size) + ".zip";
            const std::string url = "http://" + server->host() + file;
            std::vector<double> oursWall, oursCpu, curlWall, curlCpu;
            double oursPeak = 0;
            double curlPeak = 0;
            for (int round = 0; round < rounds; ++round) {
                // Alternating, so that a slow moment of the machine hits both.
                for (int turn = 0; turn < 2; ++turn) {
                    if ((turn + round) % 2 == 0) {
                        const Sample s = runDownloadFile(self, url, install, work.path());
                        oursWall.push_back(s.wall);
                        oursCpu.push_back(s.cpu);
                        oursPeak = std::max(oursPeak, s.rssMiB);
                        if (round == 0 &&
                            !bench::sameFiles(root + file, install + "/temp/morvane.zip")) {
                            std::printf("DownloadFile delivered a different package\n");
                            ok = false;
                        }
                        for (const std::string& stray : writtenBeside(install, watched)) {
                            std::printf("DownloadFile wrote %s\n", stray.c_str());
                            ok = false;
                        }
                    } else {
                        const Sample s = bench::run({"curl", "-s", "-o", work / "curl.zip", url},
                                                    work / "curl.out");
                        curlWall.push_back(s.wall);
                        curlCpu.push_back(s.cpu);
                        curlPeak = std::max(curlPeak, s.rssMiB);
                    }
                }
            }
            const double gib = size * mebi / gibi;
            std::printf("%-9s %-9s %10.3f %10.3f %7.3f %12.3f %12.3f %10.1f %10.1f\n",
                        (std::to_string(size) + " MiB").c_str(),
                        server == &limited ? "100 MB/s" : "unlimited", median(oursWall),
                        median(curlWall), median(oursWall) / median(curlWall),
                        median(oursCpu) / gib, median(curlCpu) / gib, oursPeak, curlPeak);
            std::fflush(stdout);
        }
    }
    std::printf("medians of %d rounds; DownloadFile through the Qt window offscreen; peak "
                "memory the largest of the rounds; nothing written but the package file: %s\n",
                rounds, ok ? "yes" : "NO");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 5 && std::string(argv[1]) == "--one") {
            return downloadOnce(argv[2], argv[3], argv[4]);
        }
        return compare(std::filesystem::read_symlink("/proc/self/exe").string(),
                       parseSizes(bench::option(argc, argv, "--sizes", "16,256,1024")),
                       bench::countOption(argc, argv, "--rounds", 3));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "download_bench: %s\n", failure.what());
        return 1;
    }
}
