// Times extraction through libunzip32 against `bsdtar -xf` of the same
// archive into a fresh folder, alternating the two in one run, for a 256 MiB
// package of 2000 files and a 1 GiB one (text and incompressible data mixed).
// Prints wall times, their ratio (of the medians, and the median of each
// round's own) and the peak resident memory of each.
//
//   unzip_bench [--sizes 256,1024] [--files 2000] [--rounds 3] [--folder DIR]
//               [--cores N]
//
// With --cores the benchmark, and all it starts, runs on N processors, and
// each round also times the library on one of them: the speed-up from one
// processor to N is printed.
//
// Each extraction runs in a process of its own, so that its peak memory is
// its own, into a folder of its own: nothing is deleted until every round is
// done. On an ext4 without a journal (this machine's disk) a file created
// within minutes of many deletions waits while the allocator steps over
// every inode freed lately, and the rounds would slow each other down. In a
// folder in memory (--folder /dev/shm) each round's folders go at its end.

#include "BenchSupport.h"
#include "unzip32.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <linux/magic.h>
#include <sstream>
#include <string>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::mebi;
using bench::Sample;

struct Settings {
    std::vector<int> sizesMiB{256, 1024};
    int files = 2000;
    int rounds = 3;
    std::string folder;
    int cores = 0;
};

std::vector<int> parseSizes(const std::string& text) {
    std::vector<int> sizes;
    std::stringstream stream(text);
    std::string piece;
    while (std::getline(stream, piece, ',')) {
        sizes.push_back(std::stoi(piece));
    }
    return sizes;
}

Settings parseArguments(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--sizes") {
            settings.sizesMiB = parseSizes(argv[i + 1]);
        } else if (option == "--files") {
            settings.files = std::stoi(argv[i + 1]);
        } else if (option == "--rounds") {
            settings.rounds = std::stoi(argv[i + 1]);
        } else if (option == "--folder") {
            settings.folder = argv[i + 1];
        } else if (option == "--cores") {
            settings.cores = std::stoi(argv[i + 1]);
        }
    }
    return settings;
}

int32_t quietPrint(const char*, uint32_t) {
    return 0;
}

// The child side: one extraction through the library.
int extractWithLibrary(const char* archive, const char* folder) {
    void* library = dlopen(UNZIP32_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    using Unzip = int32_t (*)(int32_t, const char* const*, int32_t, const char* const*,
                              const UzpOptions*, UzpCallbacks*);
    auto unzip = reinterpret_cast<Unzip>(dlsym(library, "Wiz_SingleEntryUnzip"));
    UzpOptions options{};
    options.quietLevel = 2;
    options.honorDirectories = 1;
    options.overwriteExisting = 1;
    options.caseSensitiveMatching = 1;
    options.archivePath = archive;
    options.extractionFolder = folder;
    UzpCallbacks callbacks{};
    callbacks.printMessage = quietPrint;
    const int32_t result = unzip(0, nullptr, 0, nullptr, &options, &callbacks);
    return result == UZP_OK ? 0 : 1;
}

// Whether the folder is in memory (tmpfs) rather than on a disk.
bool inMemory(const std::string& folder) {
    struct statfs facts {};
    return ::statfs(folder.c_str(), &facts) == 0 && facts.f_type == TMPFS_MAGIC;
}

struct Round {
    Sample library;
    Sample bsdtar;
    // With --cores: the library on one processor.
    Sample oneCore;
};

// One extraction by each into a fresh folder, from a synced disk, so that
// each pays only for the writing it does itself; which goes first alternates.
Round measureRound(const std::string& self, const std::string& archive, const std::string& work,
                   int round, bool oneCoreToo) {
    const std::string libraryTarget = work + "/library-" + std::to_string(round);
    const std::string bsdtarTarget = work + "/bsdtar-" + std::to_string(round);
    std::filesystem::create_directories(libraryTarget);
    std::filesystem::create_directories(bsdtarTarget);
    const auto library = [&] {
        sync();
        return bench::runMeasured({self, "--extract", archive, libraryTarget});
    };
    const auto bsdtar = [&] {
        sync();
        return bench::runMeasured({"bsdtar", "-xf", archive, "-C", bsdtarTarget});
    };
    Round measured;
    if (oneCoreToo) {
        const std::string oneCoreTarget = work + "/one-" + std::to_string(round);
        std::filesystem::create_directories(oneCoreTarget);
        sync();
        measured.oneCore =
            bench::runMeasured(bench::onOneProcessor({self, "--extract", archive, oneCoreTarget}));
    }
    if (round % 2 == 0) {
        measured.library = library();
        measured.bsdtar = bsdtar();
    } else {
        measured.bsdtar = bsdtar();
        measured.library = library();
    }
    return measured;
}

void benchmark(const Settings& settings, const std::string& self, int sizeMiB) {
    const std::string work = settings.folder + "/bench-" + std::to_string(sizeMiB);
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work + "/source");
    bench::makeFiles(work + "/source", sizeMiB, settings.files);
    const std::string archive = work + "/package.zip";
    const Sample zipped =
        bench::runMeasured({"bsdtar", "--format=zip", "-cf", archive, "."}, work + "/source");
    if (zipped.status != 0) {
        std::fprintf(stderr, "bsdtar failed to make the archive\n");
        return;
    }
    const double archiveMiB = static_cast<double>(std::filesystem::file_size(archive)) / mebi;

    std::vector<double> libraryTimes;
    std::vector<double> bsdtarTimes;
    std::vector<double> roundRatios;
    std::vector<double> oneCoreTimes;
    double libraryRss = 0;
    double bsdtarRss = 0;
    for (int round = 0; round < settings.rounds; ++round) {
        const auto [library, bsdtar, oneCore] =
            measureRound(self, archive, work, round, settings.cores > 1);
        if (library.status != 0 || bsdtar.status != 0 || oneCore.status != 0) {
            std::fprintf(stderr, "an extraction failed (library %d, bsdtar %d)\n", library.status,
                         bsdtar.status);
            std::filesystem::remove_all(work);
            return;
        }
        if (inMemory(work)) {
            // Memory a round filled is given back at once and used again:
            // fresh pages cost this machine more than a deletion does.
            for (const char* kind : {"/library-", "/bsdtar-", "/one-"}) {
                std::filesystem::remove_all(work + kind + std::to_string(round));
            }
        }
        libraryTimes.push_back(library.wall);
        bsdtarTimes.push_back(bsdtar.wall);
        roundRatios.push_back(library.wall / bsdtar.wall);
        oneCoreTimes.push_back(oneCore.wall);
        libraryRss = std::max(libraryRss, library.rssMiB);
        bsdtarRss = std::max(bsdtarRss, bsdtar.rssMiB);
        std::printf("  round %d: library %.2f s, bsdtar %.2f s\n", round + 1, library.wall,
                    bsdtar.wall);
    }
    const double libraryWall = bench::median(libraryTimes);
    const double bsdtarWall = bench::median(bsdtarTimes);
    std::printf("%d MiB of data, %d files, archive %.0f MiB: library %.2f s, bsdtar %.2f s, "
                "ratio %.2f (each round's own %.2f; target <= 0.55); peak memory library "
                "%.1f MiB (target <= 48), bsdtar %.1f MiB\n",
                sizeMiB, settings.files, archiveMiB, libraryWall, bsdtarWall,
                libraryWall / bsdtarWall, bench::median(roundRatios), libraryRss, bsdtarRss);
    if (settings.cores > 1) {
        const double oneCoreWall = bench::median(oneCoreTimes);
        std::printf("the library on 1 processor %.2f s, on %d %.2f s: speed-up %.2f (target >= "
                    "1.7)\n",
                    oneCoreWall, settings.cores, libraryWall, oneCoreWall / libraryWall);
    }
    std::fflush(stdout);
    std::filesystem::remove_all(work);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--extract") == 0) {
        return extractWithLibrary(argv[2], argv[3]);
    }
    Settings settings = parseArguments(argc, argv);
    if (settings.folder.empty()) {
        settings.folder = std::filesystem::temp_directory_path().string();
    }
    if (settings.cores > 0) {
        settings.cores = bench::pinToProcessors(settings.cores);
    }
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    for (const int size : settings.sizesMiB) {
        benchmark(settings, self, size);
    }
    return 0;
}
