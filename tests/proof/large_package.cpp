// A package larger than 4 GiB, installed as a user meets it: nginx on
// loopback serves a zip64 package whose one stored entry is 4.5 GiB (made
// here each time, never kept), the real window offscreen downloads it with
// its progress bar, unpacks it through the unzip library and moves the file
// into place. Checks every byte of the installed file and prints the
// figures: the package's size, the whole update's time and rate, and the
// updater's peak memory.
//
//   large_package [--gib 4.5]
//
// It needs about three times the entry's size free on the disk of the
// temporary folder (the package, the unpacked file, the installed file).

#include "testsupport/ChildProcess.h"
#include "testsupport/NginxServer.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

constexpr std::size_t blockSize = 1 << 20;

// The 1 MiB block the entry repeats: quick to write, yet a misplaced or
// lost block shows.
std::string block() {
    std::string bytes(blockSize, '\0');
    std::mt19937 random(11);
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

void makePackage(const std::string& folder, const std::string& archive, std::uint64_t blocks) {
    testsupport::writeFile(folder + "/block.bin", block());
    const std::string script = "import sys, zipfile\n"
                               "block = open(sys.argv[1], 'rb').read()\n"
                               "with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_STORED) as z:\n"
                               "    z.writestr('updater.ini', 'MOVE;big.bin;APP_PATH\\r\\n')\n"
                               "    with z.open('big.bin', 'w', force_zip64=True) as entry:\n"
                               "        for _ in range(int(sys.argv[3])):\n"
                               "            entry.write(block)\n";
    testsupport::writeFile(folder + "/make.py", script);
    const std::string command = "python3 " + folder + "/make.py " + folder + "/block.bin " +
                                archive + " " + std::to_string(blocks);
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("could not make the package: " + command);
    }
}

// Every block of the installed file is the block, and there are as many.
bool installedWhole(const std::string& path, std::uint64_t blocks) {
    const std::string expected = block();
    std::ifstream file(path, std::ios::binary);
    std::string got(blockSize, '\0');
    for (std::uint64_t i = 0; i < blocks; ++i) {
        if (!file.read(got.data(), static_cast<std::streamsize>(blockSize)) || got != expected) {
            std::fprintf(stderr, "block %llu differs or is missing\n",
                         static_cast<unsigned long long>(i));
            return false;
        }
    }
    return file.peek() == EOF;
}

std::string option(int argc, char** argv, const std::string& name, const std::string& fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (argv[i] == name) {
            return argv[i + 1];
        }
    }
    return fallback;
}

int prove(double gib) {
    const auto blocks = static_cast<std::uint64_t>(gib * 1024);
    testsupport::TempDir work;
    const std::string published = work / "www/clientfiles/morvane";
    std::filesystem::create_directories(published);
    testsupport::writeFile(published + "/version.php", "9.9.9");
    const std::string package = published + "/morvane.zip";
    makePackage(work.path(), package, blocks);
    const std::string install = work / "install";
    std::filesystem::create_directories(install);
    testsupport::writeVersionedExecutable(install + "/morvane.exe", "1.0.0.0");

    testsupport::NginxServer server(work / "www");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const auto start = std::chrono::steady_clock::now();
    testsupport::ChildProcess updater({QT_UPDATE_CHILD, install, server.host(), UNZIP32_FOLDER},
                                      work / "updater.out");
    const testsupport::ChildProcess::Ending ending = updater.wait();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const auto packageBytes = std::filesystem::file_size(package);
    const bool ended = WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == 0;
    const bool whole = ended && installedWhole(install + "/big.bin", blocks);
    const bool clean = !std::filesystem::exists(install + "/temp") &&
                       !std::filesystem::exists(install + "/.updater-journal");
    std::printf("package %llu bytes (%.2f GiB, one stored zip64 entry) from nginx on loopback: "
                "the whole update in %.1f s (%.0f MB/s of package), peak memory %.1f MiB; "
                "installed file whole: %s; temp folder and journal gone: %s\n",
                static_cast<unsigned long long>(packageBytes),
                static_cast<double>(packageBytes) / (1 << 30), seconds,
                static_cast<double>(packageBytes) / seconds / 1e6,
                static_cast<double>(ending.usage.ru_maxrss) / 1024, whole ? "yes" : "NO",
                clean ? "yes" : "NO");
    if (!whole) {
        std::fprintf(stderr, "the updater said:\n%s\n",
                     testsupport::readFile(work / "updater.out").c_str());
    }
    return whole && clean ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return prove(std::stod(option(argc, argv, "--gib", "4.5")));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "large_package: %s\n", failure.what());
        return 1;
    }
}
