// Times building an archive of the unzip benchmark's tree (256 MiB, 2000
// files, text and incompressible data mixed) through libzip32 against
// `bsdtar --format=zip -cf` and `7z a -tzip` at their default levels,
// alternating the three in one run. Prints wall times, the ratios to bsdtar,
// archive sizes and the peak resident memory of each. With --zip64 it also
// stores a sparse file of just over 4 GiB and has 7z test the archive.
// With --chunked it times instead the library deflating in content-defined
// chunks (16, 64 and 256 KiB) against the library deflating plainly at the
// same level, alternating: one large file (--large MiB, half text and half
// random) chunked whole, and the tree with every file of at least
// --chunk-from KiB chunked.
//
//   zip_bench [--size 256] [--files 2000] [--rounds 3] [--folder DIR] [--zip64]
//             [--chunked] [--large 100] [--chunk-from 64]
//
// Each build runs in a process of its own, so that its peak memory is its own.

#include "BenchSupport.h"
#include "zip32.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using bench::mebi;
using bench::Sample;

struct Settings {
    int sizeMiB = 256;
    int files = 2000;
    int rounds = 3;
    std::string folder;
    bool zip64 = false;
    bool chunked = false;
    bool repair = false;
    int largeMiB = 100;
    int chunkFromKiB = 64;
};

Settings parseArguments(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--zip64") {
            settings.zip64 = true;
        } else if (option == "--chunked") {
            settings.chunked = true;
        } else if (option == "--repair") {
            settings.repair = true;
        } else if (option == "--large" && hasValue) {
            settings.largeMiB = std::stoi(argv[++i]);
        } else if (option == "--chunk-from" && hasValue) {
            settings.chunkFromKiB = std::stoi(argv[++i]);
        } else if (option == "--size" && hasValue) {
            settings.sizeMiB = std::stoi(argv[++i]);
        } else if (option == "--files" && hasValue) {
            settings.files = std::stoi(argv[++i]);
        } else if (option == "--rounds" && hasValue) {
            settings.rounds = std::stoi(argv[++i]);
        } else if (option == "--folder" && hasValue) {
            settings.folder = argv[++i];
        }
    }
    return settings;
}

int32_t quietMessage(const char*, uint32_t) {
    return 0;
}

// The child side: one archive of everything below root through the library,
// files of at least smallestChunked bytes deflated in chunks (0: none); or
// the archive repaired from its local headers.
int buildWithLibrary(const char* archive, const char* root, uint64_t smallestChunked,
                     bool repair = false) {
    void* library = dlopen(ZIP32_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    auto init = reinterpret_cast<int32_t (*)(const ZpCallbacks*)>(dlsym(library, "ZpInit"));
    auto setOptions =
        reinterpret_cast<int32_t (*)(const ZpOptions*)>(dlsym(library, "ZpSetOptions"));
    auto build = reinterpret_cast<int32_t (*)(int32_t, const char*, const char* const*)>(
        dlsym(library, "ZpArchive"));
    const ZpCallbacks callbacks{quietMessage, nullptr, nullptr, nullptr};
    init(&callbacks);
    ZpOptions options{};
    options.recurseFolders = 1;
    options.quiet = 1;
    options.rootDirectory = root;
    options.repairArchive = repair ? 1 : 0;
    setOptions(&options);
    auto setChunking =
        reinterpret_cast<int32_t (*)(const ZpChunking*)>(dlsym(library, "ZpSetChunking"));
    const ZpChunking chunking{smallestChunked, 16 << 10, 64 << 10, 256 << 10, nullptr};
    if (setChunking(&chunking) != ZP_OK) {
        std::fprintf(stderr, "ZpSetChunking refused the chunking\n");
        return 1;
    }
    const char* const names[] = {"querty", "*"};
    const int32_t result = build(repair ? 1 : 2, archive, names);
    if (result != ZP_OK) {
        std::fprintf(stderr, "ZpArchive returned %d\n", static_cast<int>(result));
        return 1;
    }
    return 0;
}

struct Tool {
    const char* name;
    std::vector<double> times;
    double rssMiB = 0;
    double archiveMiB = 0;
    std::vector<double> cpu;
};

bool measure(Tool& tool, const std::vector<std::string>& command, const std::string& folder,
             const std::string& archive) {
    std::filesystem::remove(archive);
    sync();
    const Sample sample = bench::runMeasured(command, folder);
    if (sample.status != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", tool.name, sample.status);
        return false;
    }
    tool.times.push_back(sample.wall);
    tool.cpu.push_back(sample.cpu);
    tool.rssMiB = std::max(tool.rssMiB, sample.rssMiB);
    tool.archiveMiB = static_cast<double>(std::filesystem::file_size(archive)) / mebi;
    return true;
}

void benchmark(const Settings& settings, const std::string& self) {
    const std::string work = settings.folder + "/zip-bench-" + std::to_string(settings.sizeMiB);
    const std::string source = work + "/source";
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(source);
    bench::makeFiles(source, settings.sizeMiB, settings.files);
    Tool library{"library", {}, 0, 0, {}};
    Tool bsdtar{"bsdtar", {}, 0, 0, {}};
    Tool sevenZip{"7z", {}, 0, 0, {}};
    const std::string archive = work + "/out.zip";
    for (int round = 0; round < settings.rounds; ++round) {
        if (!measure(library, {self, "--build", archive, source}, {}, archive) ||
            !measure(bsdtar, {"bsdtar", "--format=zip", "-cf", archive, "."}, source, archive) ||
            !measure(sevenZip, {"7z", "a", "-tzip", "-bd", "-bso0", archive, "."}, source,
                     archive)) {
            return;
        }
        std::printf("  round %d: library %.2f s, bsdtar %.2f s, 7z %.2f s\n", round + 1,
                    library.times.back(), bsdtar.times.back(), sevenZip.times.back());
    }
    const double libraryWall = bench::median(library.times);
    const double bsdtarWall = bench::median(bsdtar.times);
    const double sevenWall = bench::median(sevenZip.times);
    std::printf("%d MiB of data, %d files:\n", settings.sizeMiB, settings.files);
    std::printf("  library %.2f s, bsdtar %.2f s, 7z %.2f s; library/bsdtar %.2f "
                "(target <= 1.00, stretch <= 0.60), library/7z %.2f\n",
                libraryWall, bsdtarWall, sevenWall, libraryWall / bsdtarWall,
                libraryWall / sevenWall);
    std::printf("  archive library %.1f MiB, bsdtar %.1f MiB, 7z %.1f MiB; library/bsdtar "
                "%+.2f %% (target <= +2 %%)\n",
                library.archiveMiB, bsdtar.archiveMiB, sevenZip.archiveMiB,
                (library.archiveMiB / bsdtar.archiveMiB - 1) * 100);
    std::printf("  peak memory library %.1f MiB (target <= 48), bsdtar %.1f MiB, 7z %.1f MiB\n",
                library.rssMiB, bsdtar.rssMiB, sevenZip.rssMiB);
    std::fflush(stdout);
    std::filesystem::remove_all(work);
}

// One file of about sizeMiB in folder, program.bin: half text, half random,
// as a program file with its data might be.
int makeLargeFile(const std::string& folder, int sizeMiB) {
    const std::string parts = folder + "/parts";
    bench::makeFiles(parts, sizeMiB, 2);
    std::ofstream whole(folder + "/program.bin", std::ios::binary);
    for (const auto& item : std::filesystem::recursive_directory_iterator(parts)) {
        if (item.is_regular_file()) {
            whole << std::ifstream(item.path(), std::ios::binary).rdbuf();
        }
    }
    std::filesystem::remove_all(parts);
    return whole.good() ? 0 : 1;
}

// The library deflating source plainly and in chunks, the two alternating.
void chunkedAgainstPlain(const Settings& settings, const std::string& self,
                         const std::string& source, uint64_t smallestChunked,
                         const std::string& what) {
    Tool plain{"plain", {}, 0, 0, {}};
    Tool chunked{"chunked", {}, 0, 0, {}};
    const std::string archive = source + "/../chunk-bench.zip";
    const std::string threshold = std::to_string(smallestChunked);
    std::vector<double> ratios;
    for (int round = 0; round < settings.rounds; ++round) {
        const bool chunkedFirst = round % 2 == 1;
        for (int turn = 0; turn < 2; ++turn) {
            const bool chunking = (turn == 0) == chunkedFirst;
            if (!measure(chunking ? chunked : plain,
                         {self, "--build", archive, source, chunking ? threshold : "0"}, {},
                         archive)) {
                return;
            }
        }
        ratios.push_back(chunked.times.back() / plain.times.back());
        std::printf("  round %d: plain %.2f s (CPU %.2f s), chunked %.2f s (CPU %.2f s)\n",
                    round + 1, plain.times.back(), plain.cpu.back(), chunked.times.back(),
                    chunked.cpu.back());
    }
    const double plainWall = bench::median(plain.times);
    const double chunkedWall = bench::median(chunked.times);
    std::printf("%s:\n  chunked %.2f s, plain %.2f s; chunked/plain %.3f (each round's own "
                "%.3f; target <= 1.10)\n",
                what.c_str(), chunkedWall, plainWall, chunkedWall / plainWall,
                bench::median(ratios));
    const double plainCpu = bench::median(plain.cpu);
    const double chunkedCpu = bench::median(chunked.cpu);
    std::printf("  CPU chunked %.2f s, plain %.2f s; chunked/plain %.3f\n", chunkedCpu, plainCpu,
                chunkedCpu / plainCpu);
    std::printf("  archive chunked %.2f MiB, plain %.2f MiB; chunked/plain %+.3f %% (target "
                "<= +1 %%); peak memory chunked %.1f MiB, plain %.1f MiB\n",
                chunked.archiveMiB, plain.archiveMiB,
                (chunked.archiveMiB / plain.archiveMiB - 1) * 100, chunked.rssMiB, plain.rssMiB);
    std::fflush(stdout);
}

void chunkedBenchmarks(const Settings& settings, const std::string& self) {
    const std::string work = settings.folder + "/zip-bench-chunked";
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work + "/large");
    // Made by a child: a child's peak memory counts its parent's, and the
    // parent would hold the file's content while making it.
    bench::runMeasured({self, "--make-large", work + "/large", std::to_string(settings.largeMiB)});
    const uint64_t largeSize = std::filesystem::file_size(work + "/large/program.bin");
    chunkedAgainstPlain(settings, self, work + "/large", 1,
                        "one file of " + std::to_string(largeSize >> 20) + " MiB");
    std::filesystem::create_directories(work + "/tree");
    bench::makeFiles(work + "/tree", settings.sizeMiB, settings.files);
    chunkedAgainstPlain(
        settings, self, work + "/tree", static_cast<uint64_t>(settings.chunkFromKiB) << 10,
        std::to_string(settings.sizeMiB) + " MiB in " + std::to_string(settings.files) +
            " files, those of " + std::to_string(settings.chunkFromKiB) + " KiB or more chunked");
    std::filesystem::remove_all(work);
}

// An entry over 4 GiB needs zip64 fields; 7z reads the whole entry back.
void zip64Check(const Settings& settings, const std::string& self) {
    const std::string work = settings.folder + "/zip-bench-zip64";
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work + "/source");
    const std::string big = work + "/source/sparse.bin";
    const auto size = (4ull << 30) + (1 << 20) + 7;
    std::ofstream(big, std::ios::binary).close();
    std::filesystem::resize_file(big, size);
    const std::string archive = work + "/big.zip";
    const Sample built = bench::runMeasured({self, "--build", archive, work + "/source"});
    const Sample tested = bench::runMeasured({"7z", "t", "-bd", "-bso0", archive});
    std::printf("zip64: %llu-byte sparse file stored in %.1f s (peak %.1f MiB), %s; 7z t %s\n",
                static_cast<unsigned long long>(size), built.wall, built.rssMiB,
                built.status == 0 ? "built" : "FAILED", tested.status == 0 ? "ok" : "FAILED");
    std::filesystem::remove_all(work);
}

// The tree's archive without its central directory, repaired on every
// processor and on one; 7z reads the sound archive back for comparison.
void repairBenchmark(const Settings& settings, const std::string& self) {
    const std::string work = settings.folder + "/zip-bench-repair";
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work + "/tree");
    bench::makeFiles(work + "/tree", settings.sizeMiB, settings.files);
    const std::string sound = work + "/sound.zip";
    bench::runMeasured({self, "--build", sound, work + "/tree"});
    const std::string damaged = work + "/cut.zip";
    {
        // Not held while the rounds run: a child's peak memory counts its parent's.
        std::ifstream in(sound, std::ios::binary);
        std::string bytes(std::istreambuf_iterator<char>(in), {});
        // Cut where the end record says the central directory begins.
        const std::size_t end = bytes.rfind("PK\x05\x06");
        std::uint32_t directory = 0;
        for (int i = 3; i >= 0; --i) {
            directory = directory << 8 | static_cast<unsigned char>(bytes[end + 16 + i]);
        }
        bytes.resize(directory);
        std::ofstream(damaged, std::ios::binary) << bytes;
    }
    std::vector<double> all, one, peer;
    for (int round = 0; round < settings.rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const std::string archive = work + "/repaired.zip";
            std::filesystem::copy_file(damaged, archive,
                                       std::filesystem::copy_options::overwrite_existing);
            ::sync();
            std::vector<std::string> command = {self, "--repair", archive, work + "/tree"};
            const Sample sample =
                bench::runMeasured(turn == 0 ? command : bench::onOneProcessor(command));
            (turn == 0 ? all : one).push_back(sample.wall);
        }
        peer.push_back(bench::runMeasured({"7z", "t", "-bd", "-bso0", sound}).wall);
        std::printf("  round %d: repair %.2f s, on one processor %.2f s, 7z t %.2f s\n", round + 1,
                    all.back(), one.back(), peer.back());
    }
    std::printf("repair of %d MiB in %d files, central directory cut off: %.2f s, "
                "on one processor %.2f s, speed-up %.2f; 7z t of the sound archive %.2f s; "
                "repair/7z %.2f\n",
                settings.sizeMiB, settings.files, bench::median(all), bench::median(one),
                bench::median(one) / bench::median(all), bench::median(peer),
                bench::median(all) / bench::median(peer));
    std::filesystem::remove_all(work);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--repair") == 0) {
        return buildWithLibrary(argv[2], argv[3], 0, true);
    }
    if (argc == 4 && std::strcmp(argv[1], "--make-large") == 0) {
        return makeLargeFile(argv[2], std::stoi(argv[3]));
    }
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--build") == 0) {
        return buildWithLibrary(argv[2], argv[3], argc == 5 ? std::stoull(argv[4]) : 0);
    }
    Settings settings = parseArguments(argc, argv);
    if (settings.folder.empty()) {
        settings.folder = std::filesystem::temp_directory_path().string();
    }
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    if (settings.chunked) {
        chunkedBenchmarks(settings, self);
    } else if (settings.repair) {
        repairBenchmark(settings, self);
    } else {
        benchmark(settings, self);
    }
    if (settings.zip64) {
        zip64Check(settings, self);
    }
    return 0;
}
