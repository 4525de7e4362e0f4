#pragma once

// What the matrix's tests share: the releases they publish, the trees they
// compare and the evidence they leave.

#include "PublisherRun.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>

namespace matrix {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

constexpr std::size_t largeSize = 3 << 20;

// Release 1.3.n: its executable, small files and a large one (of size
// bytes, half of them random) that goes by chunks; each n changes a byte of
// the large file and one small file.
inline void makeRelease(const std::string& folder, int n, std::size_t size = largeSize) {
    testsupport::writeVersionedExecutable(folder + "/morvane.exe", "1.3.0." + std::to_string(n));
    chmod((folder + "/morvane.exe").c_str(), 0755);
    testsupport::TempDir::makeFolder(folder + "/data");
    std::string large = testsupport::halfTextHalfRandom(size, 5);
    large[size / 3] ^= static_cast<char>(n);
    writeFile(folder + "/data/large.bin", large);
    for (int file = 0; file < 4; ++file) {
        writeFile(folder + "/data/small" + std::to_string(file) + ".txt",
                  "small file " + std::to_string(file) + (file == 0 ? std::to_string(n) : "") +
                      "\n");
    }
}

inline std::map<std::string, std::string> filesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().filename() != "NoteError.txt") {
            files[fs::relative(entry.path(), folder).string()] = readFile(entry.path().string());
        }
    }
    return files;
}

// Leaves what the cell did where the run's artifacts go, in the matrix's
// own folder.
inline void keepEvidence(const std::string& name, const std::string& text,
                         const std::string& matrix = "servers") {
    const std::string folder = testsupport::artifactFolder() + "/" + matrix;
    fs::create_directories(folder);
    writeFile(folder + "/" + name + ".log", text);
}

// The installation's files but what a run that stopped keeps in its temp
// folder for the next (emptied by that run).
inline std::map<std::string, std::string> installedFiles(const std::string& install) {
    auto files = filesBelow(install);
    std::erase_if(files, [](const auto& file) { return file.first.starts_with("temp/"); });
    return files;
}

// The names whose content differs between two trees, for a failure message
// that does not print megabytes.
inline std::string differences(const std::map<std::string, std::string>& one,
                               const std::map<std::string, std::string>& other) {
    std::string names;
    for (const auto& [name, bytes] : one) {
        if (!other.contains(name) || other.at(name) != bytes) {
            names += " " + name;
        }
    }
    for (const auto& [name, bytes] : other) {
        if (!one.contains(name)) {
            names += " +" + name;
        }
    }
    return names;
}

// What the updater has added to NoteError.txt.
inline std::string noteOf(const KeyedPublication& published) {
    return testsupport::exists(published.install + "/NoteError.txt")
               ? readFile(published.install + "/NoteError.txt")
               : std::string();
}

// Files made a minute ago, as any release is by the time users fetch it: a
// file written within the second is named by a weak ETag (Apache does so)
// and its date is no validator a range may be confirmed by yet.
inline void publishedAMinuteAgo(const std::string& folder) {
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        fs::last_write_time(entry.path(),
                            fs::last_write_time(entry.path()) - std::chrono::minutes(1));
    }
}

} // namespace matrix
