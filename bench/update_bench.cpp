// Times the whole update of one package through the real window offscreen
// (the program's start, the version check, the offer answered Yes, the
// download, the unpacking, an instruction file that copies every file into
// place, the temp folder deleted, the end of the program) against a
// baseline of the same work by common tools: `curl -s -o` of the package,
// `bsdtar -xf` into the temp folder, `cp` of the same files into place and
// `rm -rf` of the temp folder. The two alternate, from nginx on loopback.
//
//   update_bench [--size 256] [--files 16] [--rounds 3] [--program PATH]
//                [--durable yes] [--against PATH | --keyed yes] [--rate MBps]
//                [--cores N]
//
// The program is the one that runs the update, by default the end-to-end
// tests' child (the program's start, answering Yes to every box); another
// build of it gives figures to compare. With --durable yes the baseline also
// syncs every copied file to the disk, as the updater does before replacing
// a file. With --against, the baseline is another build of the program
// doing the same update, round by round, so that two builds are compared
// in one run. With --keyed yes the package and the version answer are
// signed by a publisher's key, the program runs as a build with that key
// (the signed answer, the download bound to it, the signature check) and
// the baseline is the same program without a key, which reads the same
// answer and installs the same package unchecked. --rate limits the server
// to that many MB/s, as a real network would (unlimited by default).
// --cores runs the benchmark, and all it starts, on N processors, and each
// round also times the program on one of them: the speed-up is printed.
// The package (size MiB of deflated incompressible files, spread over
// --files files that all go into the installation folder, one instruction
// line each) is made once by Python's zipfile.

#include "BenchSupport.h"
#include "UpdatePackage.h"
#include "testsupport/NginxServer.h"
#include "testsupport/TempDir.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string program;
    int sizeMiB = 256;
    int fileCount = 16;
    int rounds = 3;
    bool durable = false;
    std::string against;
    bool keyed = false;
    std::uint64_t rate = 0;
    // Processors the benchmark runs on; 0: all it may use.
    int cores = 0;
};

// Measured turns of one side.
struct Turns {
    std::vector<double> wall;
    std::vector<double> cpu;
    double peak = 0;

    void add(const bench::Sample& sample) {
        wall.push_back(sample.wall);
        cpu.push_back(sample.cpu);
        peak = std::max(peak, sample.rssMiB);
    }
};

void printFigures(const Options& options, const Turns& ours, const Turns& base,
                  const Turns& oneCore, bool ok) {
    // The ratio within each round as well: steadier when the load drifts.
    std::vector<double> ratios;
    for (std::size_t round = 0; round < ours.wall.size(); ++round) {
        ratios.push_back(ours.wall[round] / base.wall[round]);
    }
    std::printf("%-9s %10s %10s %7s %7s %9s %9s %9s %9s\n", "package", "update s", "baseline",
                "ratio", "paired", "CPU s", "base CPU", "peak MiB", "base MiB");
    std::printf("%-9s %10.3f %10.3f %7.3f %7.3f %9.3f %9.3f %9.1f %9.1f\n",
                (std::to_string(options.sizeMiB) + " MiB").c_str(), bench::median(ours.wall),
                bench::median(base.wall), bench::median(ours.wall) / bench::median(base.wall),
                bench::median(ratios), bench::median(ours.cpu), bench::median(base.cpu), ours.peak,
                base.peak);
    if (!oneCore.wall.empty()) {
        std::printf("the update on 1 processor %.3f s, on %d %.3f s: speed-up %.2f\n",
                    bench::median(oneCore.wall), options.cores, bench::median(ours.wall),
                    bench::median(oneCore.wall) / bench::median(ours.wall));
    }
    const std::string peer =
        options.keyed ? "the same program without a key"
        : options.against.empty()
            ? std::string("curl, bsdtar, cp") + (options.durable ? ", sync" : "") + " and rm"
            : "the same update by " + options.against;
    std::printf("medians of %d rounds (paired: of each round's ratio); %d files into the "
                "installation folder; the update through the Qt window offscreen against %s; "
                "server %s; every file in place both ways: %s\n",
                options.rounds, options.fileCount, peer.c_str(),
                options.rate == 0 ? "unlimited"
                                  : (std::to_string(options.rate / 1000000) + " MB/s").c_str(),
                ok ? "yes" : "NO");
}

int compare(const Options& options) {
    testsupport::TempDir work;
    bench::useOffscreenWindows(work.path());
    const std::string www = work / "www";
    const std::string published = www + "/clientfiles/morvane";
    const std::string files = work / "files";
    std::filesystem::create_directories(published);
    testsupport::writeFile(published + "/version.php", "9.9.9");
    bench::makePackage(published + "/morvane.zip", files, options.sizeMiB, options.fileCount);
    const std::string key =
        options.keyed ? bench::signPublication(published, work / "key.pem") : "";
    testsupport::NginxServer server(www, options.rate);
    const std::string url = "http://" + server.host() + "/clientfiles/morvane/morvane.zip";

    // With durable, each copy is flushed to the disk as the updater does
    // before it replaces a file. Globs, not lists: one argument of sh may
    // hold at most 128 KiB.
    const std::string baselineScript =
        "cd \"$1\" && mkdir temp && curl -s -o temp/morvane.zip " + url +
        " && bsdtar -xf temp/morvane.zip -C temp && cp " + "temp/file*.bin ." +
        (options.durable ? " && sync file*.bin" : "") + " && rm -rf temp";

    const std::string ours = work / "install";
    const std::string theirs = work / "baseline";
    const auto runOurs = [&](bool oneProcessor) {
        bench::freshInstallation(ours, theirs);
        std::vector<std::string> command{options.program, ours, server.host(), UNZIP32_FOLDER};
        if (options.keyed) {
            command.insert(command.end(), {"", key});
        }
        return bench::run(oneProcessor ? bench::onOneProcessor(command) : command,
                          work / "ours.out");
    };
    Turns oursTurns, baseTurns, oneCoreTurns;
    bool ok = true;
    for (int round = 0; round < options.rounds; ++round) {
        if (options.cores > 1) {
            oneCoreTurns.add(runOurs(true));
            ok = ok && bench::updated(ours, files, options.fileCount);
        }
        // Alternating, so that a slow moment of the machine hits both.
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0) {
                oursTurns.add(runOurs(false));
                ok = ok && bench::updated(ours, files, options.fileCount);
            } else {
                bench::freshInstallation(theirs, ours);
                const std::string other = options.keyed ? options.program : options.against;
                baseTurns.add(other.empty()
                                  ? bench::run({"sh", "-c", baselineScript, "sh", theirs},
                                               work / "theirs.out")
                                  : bench::run({other, theirs, server.host(), UNZIP32_FOLDER},
                                               work / "theirs.out"));
                ok = ok && bench::updated(theirs, files, options.fileCount);
            }
        }
    }
    printFigures(options, oursTurns, baseTurns, oneCoreTurns, ok);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        Options options;
        options.program = bench::option(argc, argv, "--program", QT_UPDATE_CHILD);
        options.sizeMiB = bench::countOption(argc, argv, "--size", 256);
        options.fileCount = bench::countOption(argc, argv, "--files", 16);
        options.rounds = bench::countOption(argc, argv, "--rounds", 3);
        options.durable = bench::option(argc, argv, "--durable", "no") == "yes";
        options.against = bench::option(argc, argv, "--against", "");
        options.keyed = bench::option(argc, argv, "--keyed", "no") == "yes";
        options.rate = bench::rateOption(argc, argv);
        const int cores = std::stoi(bench::option(argc, argv, "--cores", "0"));
        options.cores = cores > 0 ? bench::pinToProcessors(cores) : 0;
        return compare(options);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "update_bench: %s\n", failure.what());
        return 1;
    }
}
