// Times the whole update of one signed package through each cache in front
// of nginx (Varnish, Squid, Traffic Server) against the same update from
// nginx directly, through the real window offscreen: the version check, the
// download bound to the signed answer, the signature check, the unpacking
// and every file moved into place. Each round starts each cache afresh: its
// first update finds it empty (it fetches from nginx while it answers), its
// second is served from what it kept. Direct and cached turns alternate. With
// --rate, the updater reaches both through a relay on loopback that holds
// what it carries to that many MB/s, as a real link would. Each program
// runs with its own defaults.
//
//   cache_bench [--size 64] [--files 16] [--rounds 3] [--only NAME] [--rate MBps]
//
// NAME is one cell of the server matrix (VarnishBeforeNginx, ...).

#include "BenchSupport.h"
#include "UpdatePackage.h"
#include "testsupport/MatrixServers.h"
#include "testsupport/TempDir.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Turns {
    std::vector<double> empty;
    std::vector<double> kept;
    std::vector<double> direct;
    bool ok = true;
};

class Bench {
public:
    Bench(int sizeMiB, int fileCount) : m_fileCount(fileCount) {
        bench::useOffscreenWindows(m_work.path());
        const std::string published = m_work / "www/clientfiles/morvane";
        std::filesystem::create_directories(published);
        bench::makePackage(published + "/morvane.zip", m_work / "files", sizeMiB, fileCount);
        m_key = bench::signPublication(published, m_work / "key.pem");
    }

    std::string www() const { return m_work / "www"; }

    // One update from host into a fresh installation; its wall time.
    double update(const std::string& host, bool& ok) {
        const std::string install = m_work / "install";
        bench::freshInstallation(install, m_work / "none");
        const bench::Sample s = bench::run(
            {QT_UPDATE_CHILD, install, host, UNZIP32_FOLDER, "", m_key}, m_work / "update.out");
        ok = ok && bench::updated(install, m_work / "files", m_fileCount);
        return s.wall;
    }

private:
    testsupport::TempDir m_work;
    int m_fileCount;
    std::string m_key;
};

// Each round starts the cache afresh: its first update finds it empty, the
// second is served from what it kept.
Turns measure(Bench& bench, const testsupport::Cell& cache, const testsupport::Cell& direct,
              int rounds, std::uint64_t rate) {
    const testsupport::ServedThroughRelay alone(direct, bench.www(), rate,
                                                testsupport::Settings::defaults);
    Turns turns;
    for (int round = 0; round < rounds; ++round) {
        const testsupport::ServedThroughRelay viaCache(cache, bench.www(), rate,
                                                       testsupport::Settings::defaults);
        // Alternating, so that a slow moment of the machine hits both.
        if (round % 2 == 1) {
            turns.direct.push_back(bench.update(alone.host(), turns.ok));
        }
        turns.empty.push_back(bench.update(viaCache.host(), turns.ok));
        turns.kept.push_back(bench.update(viaCache.host(), turns.ok));
        if (round % 2 == 0) {
            turns.direct.push_back(bench.update(alone.host(), turns.ok));
        }
    }
    return turns;
}

int compare(int sizeMiB, int fileCount, int rounds, const std::string& only, std::uint64_t rate) {
    Bench bench(sizeMiB, fileCount);
    const testsupport::Cell* direct = nullptr;
    std::vector<const testsupport::Cell*> caches;
    for (const testsupport::Cell& cell : testsupport::matrixCells()) {
        const std::string name = cell.name;
        if (name == "Nginx") {
            direct = &cell;
        } else if (name.ends_with("BeforeNginx") && (only.empty() || only == name)) {
            caches.push_back(&cell);
        }
    }
    if (direct == nullptr || caches.empty()) {
        std::fprintf(stderr, "cache_bench: no such cell: %s\n", only.c_str());
        return 2;
    }
    std::printf("%-26s %9s %9s %9s %9s %9s\n", "cache", "direct s", "empty s", "ratio", "kept s",
                "ratio");
    bool ok = true;
    for (const testsupport::Cell* cache : caches) {
        const Turns turns = measure(bench, *cache, *direct, rounds, rate);
        const double directTime = bench::median(turns.direct);
        std::printf("%-26s %9.3f %9.3f %9.3f %9.3f %9.3f\n", cache->name, directTime,
                    bench::median(turns.empty), bench::median(turns.empty) / directTime,
                    bench::median(turns.kept), bench::median(turns.kept) / directTime);
        ok = ok && turns.ok;
    }
    std::printf("%d MiB signed package in %d files; the update through the Qt window offscreen; "
                "medians of %d rounds, each with the cache started afresh (empty: its first "
                "update, kept: its second) and one update from nginx alone (direct); through a "
                "relay, %s; every file in place every "
                "time: %s\n",
                sizeMiB, fileCount, rounds,
                rate == 0 ? "unlimited" : (std::to_string(rate / 1000000) + " MB/s").c_str(),
                ok ? "yes" : "NO");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return compare(bench::countOption(argc, argv, "--size", 64),
                       bench::countOption(argc, argv, "--files", 16),
                       bench::countOption(argc, argv, "--rounds", 3),
                       bench::option(argc, argv, "--only", ""), bench::rateOption(argc, argv));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "cache_bench: %s\n", failure.what());
        return 1;
    }
}
