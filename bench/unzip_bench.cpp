// Times extraction through libunzip32 against `bsdtar -xf` of the same
// archive into a fresh folder, alternating the two in one run, for a 256 MiB
// package of 2000 files and a 1 GiB one (text and incompressible data mixed).
// Prints wall times, their ratio and the peak resident memory of each.
//
//   unzip_bench [--sizes 256,1024] [--files 2000] [--rounds 3] [--folder DIR]
//
// Each extraction runs in a process of its own, so that its peak memory is
// its own.

#include "unzip32.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr double mebi = 1024.0 * 1024.0;

struct Sample {
    double wall = 0;
    double rssMiB = 0;
    int status = 0;
};

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

// Runs a program (no shell) and reports its wall time and peak memory.
Sample runMeasured(const std::vector<std::string>& arguments,
                   const std::string& workingFolder = {}) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    Sample sample;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    }
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        sample.status = -1;
        return sample;
    }
    rusage usage{};
    wait4(child, &sample.status, 0, &usage);
    sample.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sample.rssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return sample;
}

// Text of common words, and bytes that do not compress, in equal shares.
void makeFiles(const std::string& folder, int sizeMiB, int files) {
    std::mt19937_64 random(static_cast<std::uint64_t>(sizeMiB) * 7919u);
    const std::uint64_t total = static_cast<std::uint64_t>(sizeMiB) * 1024 * 1024;
    const std::uint64_t average = total / static_cast<std::uint64_t>(files);
    static const char* const words[] = {"morvane", "update",  "package", "version", "folder",
                                        "install", "archive", "entry",   "data",    "file"};
    std::string content;
    for (int i = 0; i < files; ++i) {
        const std::string sub = folder + "/d" + std::to_string(i % 40);
        std::filesystem::create_directories(sub);
        const std::uint64_t size = average / 2 + random() % average;
        content.clear();
        if (i % 2 == 0) {
            while (content.size() < size) {
                content.append(words[random() % 10]).push_back(random() % 12 == 0 ? '\n' : ' ');
            }
            content.resize(size);
        } else {
            content.resize(size);
            for (std::size_t k = 0; k + 8 <= content.size(); k += 8) {
                const std::uint64_t value = random();
                std::memcpy(&content[k], &value, 8);
            }
        }
        std::ofstream(sub + "/f" + std::to_string(i) + (i % 2 == 0 ? ".txt" : ".bin"),
                      std::ios::binary)
            << content;
    }
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

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void benchmark(const Settings& settings, const std::string& self, int sizeMiB) {
    const std::string work = settings.folder + "/bench-" + std::to_string(sizeMiB);
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work + "/source");
    makeFiles(work + "/source", sizeMiB, settings.files);
    const std::string archive = work + "/package.zip";
    const Sample zipped = runMeasured({"zip", "-q", "-r", archive, "."}, work + "/source");
    std::filesystem::remove_all(work + "/source");
    if (zipped.status != 0) {
        std::fprintf(stderr, "zip failed\n");
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
        const Sample library = runMeasured({self, "--extract", archive, target});
        std::filesystem::remove_all(target);
        std::filesystem::create_directories(target);
        sync();
        const Sample bsdtar = runMeasured({"bsdtar", "-xf", archive, "-C", target});
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
    const double libraryWall = median(libraryTimes);
    const double bsdtarWall = median(bsdtarTimes);
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
