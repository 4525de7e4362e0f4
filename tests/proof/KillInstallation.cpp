#include "KillInstallation.h"

#include "testsupport/PatternedBytes.h"
#include "testsupport/VersionedExecutable.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using testsupport::readFile;

namespace killproof {

namespace {

constexpr int libraryFiles = 50;
const std::string journalName = ".updater-journal";

std::string patterned(const std::string& tag, std::size_t size) {
    std::string bytes = testsupport::patternedBytes(size);
    return tag + bytes.substr(std::min(tag.size(), bytes.size()));
}

// Bytes deflate cannot shrink, so that the package is as large as its files.
std::string randomBytes(unsigned seed, std::size_t size) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
    return bytes;
}

// morvane.exe, old and new, and its line.
void addExecutable(const testsupport::TempDir& scratch, Installation& layout) {
    testsupport::writeVersionedExecutable(scratch / "old.exe", "1.2.0.5");
    testsupport::writeVersionedExecutable(scratch / "new.exe", "1.3.0.0");
    layout.files.push_back({"morvane.exe", "bin/morvane.exe", readFile(scratch / "old.exe"),
                            readFile(scratch / "new.exe"), 0755});
}

// The lines that install every file: the libraries, the plugins' folder and
// plugins, morvane.exe first or last.
std::string instructionsFor(const Installation& layout, bool executableFirst) {
    const std::string executable = "MOVE;morvane.exe;APP_PATH\r\n";
    std::string lines = executableFirst ? executable : "";
    bool folderMade = false;
    for (const InstalledFile& file : layout.files) {
        const std::string name = fs::path(file.name).filename();
        if (file.name.starts_with("plugins/")) {
            lines += folderMade ? "" : "MAKEDIR;plugins;APP_PATH\r\n";
            folderMade = true;
            lines += "MOVE;" + name + ";APP_PATH\\PLUGINS\r\n";
        } else if (file.name != "morvane.exe") {
            lines += "MOVE;" + name + ";APP_PATH\r\n";
        }
    }
    return executableFirst ? lines : lines + executable;
}

using LibraryFile = std::function<InstalledFile(int index, const std::string& name)>;
using PluginBytes = std::function<std::string(int index, const std::string& name)>;

// morvane.exe, 50 libraries at the top, plugins in a folder the package
// makes, and the lines that install them.
Installation layoutOf(const testsupport::TempDir& scratch, const LibraryFile& library, int plugins,
                      const PluginBytes& plugin, bool executableFirst) {
    Installation layout;
    addExecutable(scratch, layout);
    for (int i = 0; i < libraryFiles; ++i) {
        layout.files.push_back(library(i, "lib" + std::to_string(i) + ".dat"));
    }
    for (int i = 0; i < plugins; ++i) {
        const std::string name = "plugin" + std::to_string(i) + ".so";
        layout.files.push_back({"plugins/" + name, name, "", plugin(i, name)});
    }
    layout.instructions = instructionsFor(layout, executableFirst);
    return layout;
}

mode_t modeOf(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

bool isLogRecord(const std::string& line) {
    static const std::regex record(R"re("\d\d/[A-Z][a-z][a-z]/\d{4}","[^\r\n]*"\r)re");
    return std::regex_match(line, record);
}

} // namespace

Installation wholePackageLayout(const testsupport::TempDir& scratch) {
    return layoutOf(
        scratch,
        [](int i, const std::string& name) {
            // Sizes from a few bytes to several copy buffers, so that copies
            // have a middle to be killed in.
            const std::size_t size = 7 + static_cast<std::size_t>(i) * 4099 % 200000;
            return InstalledFile{name, "lib/" + name, patterned("old " + name, size),
                                 patterned("new " + name, size + 13)};
        },
        5, [](int, const std::string& name) { return patterned("new " + name, 70000); }, true);
}

Installation changedFilesLayout(const testsupport::TempDir& scratch) {
    return layoutOf(
        scratch,
        [](int i, const std::string& name) {
            const std::size_t size = 20000 + static_cast<std::size_t>(i) * 4099 % 160000;
            const unsigned seed = static_cast<unsigned>(i) + 1;
            InstalledFile file{name, name, randomBytes(seed, size), randomBytes(seed, size)};
            if (i % 10 == 5) {
                // A changed file long enough for its bytes to arrive in pieces.
                file.after = randomBytes(seed + 1000, 400000 + size);
            }
            if (i == 3 || i == 33) {
                file.installedMode = 0600;
            }
            if (i == 7) {
                // Large enough to come by its chunks: three of them changed,
                // far apart, each fetched alone.
                constexpr std::size_t large = 3 << 20;
                file = {chunkedName, chunkedName, randomBytes(seed, large), {}};
                file.after = file.before;
                for (const std::size_t at : {large / 6, large / 2, large * 5 / 6}) {
                    file.after[at] ^= 0x5a;
                }
            }
            return file;
        },
        2,
        [](int i, const std::string&) {
            return randomBytes(static_cast<unsigned>(i) + 2000, 90000);
        },
        // As the publisher's tool writes it: the files at the top last.
        false);
}

void installOld(const Installation& layout, const std::string& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const InstalledFile& file : layout.files) {
        if (!file.before.empty()) {
            const std::string path = folder + "/" + file.name;
            testsupport::writeFile(path, file.before);
            chmod(path.c_str(), file.installedMode);
        }
    }
}

void writeRelease(const Installation& layout, const std::string& folder,
                  const std::string& lastLine) {
    fs::remove_all(folder);
    fs::create_directories(folder + "/plugins");
    for (const InstalledFile& file : layout.files) {
        const std::string path = folder + "/" + file.name;
        testsupport::writeFile(path, file.after);
        chmod(path.c_str(), file.name == "morvane.exe" ? 0755 : 0644);
    }
    testsupport::writeFile(folder + "/updater.ini", layout.instructions + lastLine);
}

Verdict inspect(const Installation& layout, const std::string& folder) {
    Verdict verdict;
    std::set<std::string> known = {"NoteError.txt", "plugins"};
    bool allOld = !fs::exists(folder + "/plugins");
    bool allNew = true;
    for (const InstalledFile& file : layout.files) {
        known.insert(file.name);
        const std::string path = folder + "/" + file.name;
        if (!fs::exists(path)) {
            allNew = false;
            if (!file.before.empty()) {
                allOld = false;
                verdict.torn.push_back(file.name + " (gone)");
            }
            continue;
        }
        const std::string now = readFile(path);
        allNew = allNew && now == file.after;
        allOld = allOld && now == file.before;
        if (now != file.after && now != file.before) {
            verdict.torn.push_back(file.name);
        } else if (!file.before.empty() && modeOf(path) != file.installedMode) {
            verdict.torn.push_back(file.name + " (its mode)");
        }
    }
    verdict.whole = allOld ? Whole::old : allNew ? Whole::whollyNew : Whole::neither;
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = fs::relative(it->path(), folder).string();
        if (name == "temp" || name == journalName) {
            verdict.journal = verdict.journal || name == journalName;
            it.disable_recursion_pending();
            continue;
        }
        if (!known.contains(name)) {
            verdict.stray.push_back(name);
        }
    }
    if (fs::exists(folder + "/NoteError.txt")) {
        std::istringstream log(readFile(folder + "/NoteError.txt"));
        for (std::string line; std::getline(log, line);) {
            if (!isLogRecord(line)) {
                verdict.badLog = line;
            }
        }
    }
    return verdict;
}

} // namespace killproof
