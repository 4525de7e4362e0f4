// Times DownloadFile, driven through the real Qt window offscreen, against
// `curl -s -o` of the same package from nginx on loopback, alternating the
// two, with the server limited to 100 MB/s and unlimited. Prints wall-time
// ratios, CPU seconds per GiB and the peak resident memory of a download.
//
//   download_bench [--sizes 16,256,1024] [--rounds 3]
//
// Each download runs in a process of its own, so that its peak memory is
// its own.

#include "app/frmUpdater.h"
#include "platform/SystemServices.h"
#include "platform/qt/QtToolkit.h"
#include "platform/qt/QtUpdaterWindow.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/NginxServer.h"
#include "tests/support/TempDir.h"

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

namespace {

constexpr double mebi = 1024.0 * 1024.0;
constexpr double gibi = mebi * 1024.0;
constexpr std::uint64_t linkRate = 100'000'000; // bytes per second

struct Sample {
    double wall = 0; // seconds
    double cpu = 0;  // user + system seconds
    double rssMiB = 0;
};

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One DownloadFile in this process; writes "wall cpu peak-KiB" to report.
int downloadOnce(const std::string& url, const std::string& installFolder,
                 const std::string& report) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int argc = 1;
    char name[] = "download_bench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    platform::QtToolkit toolkit;
    platform::QtUpdaterWindow window;
    platform::SystemServices services;
    frmUpdater form(toolkit, window, services, UpdaterSettings{installFolder, "unused", "unused"});
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

// Runs a program to its end, its output in outputFile; its wall time, CPU
// and peak memory.
Sample run(const std::vector<std::string>& arguments, const std::string& outputFile) {
    const double start = now();
    testsupport::ChildProcess child(arguments, outputFile);
    const testsupport::ChildProcess::Ending ending = child.wait();
    if (!WIFEXITED(ending.status) || WEXITSTATUS(ending.status) != 0) {
        throw std::runtime_error(arguments[0] + " failed: " + testsupport::readFile(outputFile));
    }
    return Sample{now() - start, seconds(ending.usage.ru_utime) + seconds(ending.usage.ru_stime),
                  static_cast<double>(ending.usage.ru_maxrss) / 1024.0};
}

Sample runDownloadFile(const std::string& self, const std::string& url,
                       const std::string& installFolder) {
    const std::string report = installFolder + "/report.txt";
    run({self, "--one", url, installFolder, report}, installFolder + "/output.txt");
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

bool sameFiles(const std::string& a, const std::string& b) {
    std::ifstream left(a, std::ios::binary);
    std::ifstream right(b, std::ios::binary);
    std::vector<char> x(1 << 20);
    std::vector<char> y(1 << 20);
    for (;;) {
        left.read(x.data(), static_cast<std::streamsize>(x.size()));
        right.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (left.gcount() != right.gcount() ||
            std::memcmp(x.data(), y.data(), static_cast<std::size_t>(left.gcount())) != 0) {
            return false;
        }
        if (left.gcount() == 0) {
            return true;
        }
    }
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
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
    // Qt wants a private runtime folder; one of the bench's own keeps it quiet.
    const std::string runtime = work / "runtime";
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 0);
    for (int size : sizesMiB) {
        writePackage(root + "/p" + std::to_string(size) + ".zip",
                     static_cast<std::uint64_t>(size) * 1024 * 1024);
    }
    testsupport::NginxServer limited(root, linkRate);
    testsupport::NginxServer unlimited(root);

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
                        const Sample s = runDownloadFile(self, url, install);
                        oursWall.push_back(s.wall);
                        oursCpu.push_back(s.cpu);
                        oursPeak = std::max(oursPeak, s.rssMiB);
                        if (round == 0 && !sameFiles(root + file, install + "/temp/morvane.zip")) {
                            std::printf("DownloadFile delivered a different package\n");
                            ok = false;
                        }
                    } else {
                        const Sample s =
                            run({"curl", "-s", "-o", work / "curl.zip", url}, work / "curl.out");
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
    std::printf("medians of %d rounds; DownloadFile through the Qt window offscreen\n", rounds);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 5 && std::string(argv[1]) == "--one") {
            return downloadOnce(argv[2], argv[3], argv[4]);
        }
        std::vector<int> sizes = {16, 256, 1024};
        int rounds = 3;
        for (int i = 1; i + 1 < argc; i += 2) {
            const std::string option = argv[i];
            if (option == "--sizes") {
                sizes = parseSizes(argv[i + 1]);
            } else if (option == "--rounds") {
                rounds = std::max(1, std::atoi(argv[i + 1]));
            }
        }
        return compare(std::filesystem::read_symlink("/proc/self/exe").string(), sizes, rounds);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "download_bench: %s\n", failure.what());
        return 1;
    }
}
