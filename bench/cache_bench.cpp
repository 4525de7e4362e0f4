// Times the whole update of one signed package through each cache in front
// of nginx (Varnish, Squid, Traffic Server) against the same update from
// nginx directly, through the real window offscreen: the version check, the
// download bound to the signed answer, the signature check, the unpacking
// and every file moved into place. The first update through a cache finds
// it empty (the cache fetches from nginx while it answers); the later ones
// are served from what it kept. Direct and cached turns alternate.
//
//   cache_bench [--size 64] [--files 16] [--rounds 3] [--only NAME]
//
// NAME is one cell of the server matrix (VarnishBeforeNginx, ...).

#include "BenchSupport.h"
#include "UpdatePackage.h"
#include "testsupport/MatrixServers.h"
#include "testsupport/TempDir.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Turns {
    double cold = 0;
    std::vector<double> cached;
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

Turns measure(Bench& bench, const testsupport::Cell& cache, const testsupport::Cell& direct,
              int rounds) {
    const std::unique_ptr<testsupport::Served> viaCache = cache.serve(bench.www());
    const std::unique_ptr<testsupport::Served> alone = direct.serve(bench.www());
    Turns turns;
    turns.direct.push_back(bench.update(alone->host(), turns.ok));
    turns.cold = bench.update(viaCache->host(), turns.ok);
    for (int round = 0; round < rounds; ++round) {
        // Alternating, so that a slow moment of the machine hits both.
        if (round % 2 == 0) {
            turns.cached.push_back(bench.update(viaCache->host(), turns.ok));
            turns.direct.push_back(bench.update(alone->host(), turns.ok));
        } else {
            turns.direct.push_back(bench.update(alone->host(), turns.ok));
            turns.cached.push_back(bench.update(viaCache->host(), turns.ok));
        }
    }
    return turns;
}

int compare(int sizeMiB, int fileCount, int rounds, const std::string& only) {
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
        const Turns turns = measure(bench, *cache, *direct, rounds);
        const double directTime = bench::median(turns.direct);
        std::printf("%-26s %9.3f %9.3f %9.3f %9.3f %9.3f\n", cache->name, directTime, turns.cold,
                    turns.cold / directTime, bench::median(turns.cached),
                    bench::median(turns.cached) / directTime);
        ok = ok && turns.ok;
    }
    std::printf("%d MiB signed package in %d files; the update through the Qt window offscreen; "
                "empty: the cache's first update, kept: the median of %d later ones; direct: "
                "the median of %d from nginx alone; every file in place every time: %s\n",
                sizeMiB, fileCount, rounds, rounds + 1, ok ? "yes" : "NO");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return compare(std::max(1, std::stoi(bench::option(argc, argv, "--size", "64"))),
                       std::max(1, std::stoi(bench::option(argc, argv, "--files", "16"))),
                       std::max(1, std::stoi(bench::option(argc, argv, "--rounds", "3"))),
                       bench::option(argc, argv, "--only", ""));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "cache_bench: %s\n", failure.what());
        return 1;
    }
}
