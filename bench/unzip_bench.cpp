// Times extraction through libunzip32 against `bsdtar -xf` of the same
// archive into a fresh folder, alternating the two in one run, for a 256 MiB
// package of 2000 files and a 1 GiB one (text and incompressible data mixed).
// Prints wall times, their ratio and the peak resident memory of each.
//
//   unzip_bench [--sizes 256,1024] [--files 2000] [--rounds 3] [--folder DIR]
//
// Each extraction runs in a process of its own, so that its peak memory is
// its own.

#include "BenchSupport.h"
#include "unzip32.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <sstream>
#include <string>
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

void benchmark(const Settings& settings, const std::string& self, int sizeMiB) {
    const std::string work = settings.folder + "/bench-" + std::to_string(sizeMiB);
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work + "/source");
    bench::makeFiles(work + "/source", sizeMiB, settings.files);
    const std::string archive = work + "/package.zip";
    const Sample zipped =
        bench::runMeasured({"bsdtar", "--format=zip", "-cf", archive, "."}, work + "/source");
    std::filesystem::remove_all(work + "/source");
    if (zipped.status != 0) {
        std::fprintf(stderr, "bsdtar failed to make the archive\n");
        return;
    }
    const double archiveMiB = static_cast<double>(std::filesystem::file_size(archive)) / mebi;

    std::vector<double> libraryTimes;
    std::vector<double> bsdtarTimes;
    double libraryRss = 0;
    double bsdtarRss = 0;
    for (int round = 0; round < settings.rounds; ++round) {
        const std::string target = work + "/out";
        std::filesystem::create_directories(target);
        // Each run starts with the earlier runs' data on disk, so that it
        // pays only for the writing it does itself.
        sync();
        const Sample library = bench::runMeasured({self, "--extract", archive, target});
        std::filesystem::remove_all(target);
        std::filesystem::create_directories(target);
        sync();
        const Sample bsdtar = bench::runMeasured({"bsdtar", "-xf", archive, "-C", target});
        std::filesystem::remove_all(target);
        if (library.status != 0 || bsdtar.status != 0) {
            std::fprintf(stderr, "an extraction failed (library %d, bsdtar %d)\n", library.status,
                         bsdtar.status);
            return;
        }
        libraryTimes.push_back(library.wall);
        bsdtarTimes.push_back(bsdtar.wall);
        libraryRss = std::max(libraryRss, library.rssMiB);
        bsdtarRss = std::max(bsdtarRss, bsdtar.rssMiB);
        std::printf("  round %d: library %.2f s, bsdtar %.2f s\n", round + 1, library.wall,
                    bsdtar.wall);
    }
    const double libraryWall = bench::median(libraryTimes);
    const double bsdtarWall = bench::median(bsdtarTimes);
    std::printf("%d MiB of data, %d files, archive %.0f MiB: library %.2f s, bsdtar %.2f s, "
                "ratio %.2f (target <= 1.00); peak memory library %.1f MiB (target <= 48), "
                "bsdtar %.1f MiB\n",
                sizeMiB, settings.files, archiveMiB, libraryWall, bsdtarWall,
                libraryWall / bsdtarWall, libraryRss, bsdtarRss);
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
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    for (const int size : settings.sizesMiB) {
        benchmark(settings, self, size);
    }
    return 0;
}
