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
// The package (size MiB of deflated incompressible files, spread over
// --files files that all go into the installation folder, one instruction
// line each) is made once by Python's zipfile.

#include "BenchSupport.h"
#include "UpdatePackage.h"
#include "testsupport/NginxServer.h"
#include "testsupport/TempDir.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

int compare(const std::string& program, int sizeMiB, int fileCount, int rounds, bool durable,
            const std::string& against, bool keyed, std::uint64_t rate) {
    testsupport::TempDir work;
    bench::useOffscreenWindows(work.path());
    const std::string www = work / "www";
    const std::string published = www + "/clientfiles/morvane";
    const std::string files = work / "files";
    std::filesystem::create_directories(published);
    testsupport::writeFile(published + "/version.php", "9.9.9");
    bench::makePackage(published + "/morvane.zip", files, sizeMiB, fileCount);
    const std::string key = keyed ? bench::signPublication(published, work / "key.pem") : "";
    testsupport::NginxServer server(www, rate);
    const std::string url = "http://" + server.host() + "/clientfiles/morvane/morvane.zip";

    // With durable, each copy is flushed to the disk as the updater does
    // before it replaces a file. Globs, not lists: one argument of sh may
    // hold at most 128 KiB.
    const std::string baselineScript = "cd \"$1\" && mkdir temp && curl -s -o temp/morvane.zip " +
                                       url + " && bsdtar -xf temp/morvane.zip -C temp && cp " +
                                       "temp/file*.bin ." + (durable ? " && sync file*.bin" : "") +
                                       " && rm -rf temp";

    const std::string ours = work / "install";
    const std::string theirs = work / "baseline";
    std::vector<double> oursWall, oursCpu, baseWall, baseCpu;
    double oursPeak = 0;
    double basePeak = 0;
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        // Alternating, so that a slow moment of the machine hits both.
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0) {
                bench::freshInstallation(ours, theirs);
                const bench::Sample s = bench::run(
                    keyed ? std::vector<std::string>{program, ours, server.host(), UNZIP32_FOLDER,
                                                     "", key}
                          : std::vector<std::string>{program, ours, server.host(), UNZIP32_FOLDER},
                    work / "ours.out");
                oursWall.push_back(s.wall);
                oursCpu.push_back(s.cpu);
                oursPeak = std::max(oursPeak, s.rssMiB);
                ok = ok && bench::updated(ours, files, fileCount);
            } else {
                bench::freshInstallation(theirs, ours);
                const std::string other = keyed ? program : against;
                const bench::Sample s =
                    other.empty() ? bench::run({"sh", "-c", baselineScript, "sh", theirs},
                                               work / "theirs.out")
                                  : bench::run({other, theirs, server.host(), UNZIP32_FOLDER},
                                               work / "theirs.out");
                baseWall.push_back(s.wall);
                baseCpu.push_back(s.cpu);
                basePeak = std::max(basePeak, s.rssMiB);
                ok = ok && bench::updated(theirs, files, fileCount);
            }
        }
    }
    // The ratio within each round as well: steadier when the load drifts.
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        ratios.push_back(oursWall[round] / baseWall[round]);
    }
    std::printf("%-9s %10s %10s %7s %7s %9s %9s %9s %9s\n", "package", "update s", "baseline",
                "ratio", "paired", "CPU s", "base CPU", "peak MiB", "base MiB");
    std::printf("%-9s %10.3f %10.3f %7.3f %7.3f %9.3f %9.3f %9.1f %9.1f\n",
                (std::to_string(sizeMiB) + " MiB").c_str(), bench::median(oursWall),
                bench::median(baseWall), bench::median(oursWall) / bench::median(baseWall),
                bench::median(ratios), bench::median(oursCpu), bench::median(baseCpu), oursPeak,
                basePeak);
    const std::string peer =
        keyed             ? "the same program without a key"
        : against.empty() ? std::string("curl, bsdtar, cp") + (durable ? ", sync" : "") + " and rm"
                          : "the same update by " + against;
    std::printf("medians of %d rounds (paired: of each round's ratio); %d files into the "
                "installation folder; the update through the Qt window offscreen against %s; "
                "server %s; every file in place both ways: %s\n",
                rounds, fileCount, peer.c_str(),
                rate == 0 ? "unlimited" : (std::to_string(rate / 1000000) + " MB/s").c_str(),
                ok ? "yes" : "NO");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return compare(bench::option(argc, argv, "--program", QT_UPDATE_CHILD),
                       bench::countOption(argc, argv, "--size", 256),
                       bench::countOption(argc, argv, "--files", 16),
                       bench::countOption(argc, argv, "--rounds", 3),
                       bench::option(argc, argv, "--durable", "no") == "yes",
                       bench::option(argc, argv, "--against", ""),
                       bench::option(argc, argv, "--keyed", "no") == "yes",
                       bench::rateOption(argc, argv));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "update_bench: %s\n", failure.what());
        return 1;
    }
}
