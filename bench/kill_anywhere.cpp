// Kill anywhere: runs the real update of an installation of 56 files
// against a publisher on loopback and kills the updater with SIGKILL at
// spread points of the run (version check, download, unpacking, every line
// of the instruction file, inside every copy). After each kill it checks
// that every installed file is wholly old or wholly new, that nothing but
// the installation's own files lies outside the temp folder, and that the
// error log is one record per line; then it runs the updater again and
// checks that the installation ends wholly new.
//
//   kill_anywhere [POINTS]      (default 200)
//
// Prints: points tried, torn files, stray files, recoveries completed, and
// each failing point. Exit status 0 when nothing is torn or stray and every
// recovery completed.

#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackPublisher.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/PatternedBytes.h"
#include "tests/support/TempDir.h"
#include "tests/support/VersionedExecutable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

constexpr int libraryFiles = 50;
constexpr int pluginFiles = 5;

// One file of the installation: what it holds before and after the update
// (empty `before` means the update brings it).
struct InstalledFile {
    std::string name; // relative to the installation folder
    std::string packageName;
    std::string before;
    std::string after;
};

struct Installation {
    std::vector<InstalledFile> files;
    std::string instructions;
};

std::string content(const std::string& tag, std::size_t size) {
    std::string bytes = testsupport::patternedBytes(size);
    return tag + bytes.substr(std::min(tag.size(), bytes.size()));
}

Installation describe(const testsupport::TempDir& scratch) {
    Installation layout;
    testsupport::writeVersionedExecutable(scratch / "old.exe", "1.2.0.5");
    testsupport::writeVersionedExecutable(scratch / "new.exe", "1.3.0.0");
    layout.files.push_back({"morvane.exe", "bin/morvane.exe", readFile(scratch / "old.exe"),
                            readFile(scratch / "new.exe")});
    layout.instructions = "MOVE;morvane.exe;APP_PATH\r\n";
    for (int i = 0; i < libraryFiles; ++i) {
        const std::string name = "lib" + std::to_string(i) + ".dat";
        // Sizes from a few bytes to several copy buffers, so that copies
        // have a middle to be killed in.
        const std::size_t size = 7 + static_cast<std::size_t>(i) * 4099 % 200000;
        layout.files.push_back(
            {name, "lib/" + name, content("old " + name, size), content("new " + name, size + 13)});
        layout.instructions += "MOVE;" + name + ";APP_PATH\r\n";
    }
    layout.instructions += "MAKEDIR;plugins;APP_PATH\r\n";
    for (int i = 0; i < pluginFiles; ++i) {
        const std::string name = "plugin" + std::to_string(i) + ".so";
        layout.files.push_back({"plugins/" + name, name, "", content("new " + name, 70000)});
        layout.instructions += "MOVE;" + name + ";APP_PATH\\PLUGINS\r\n";
    }
    return layout;
}

void installOld(const Installation& layout, const std::string& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const InstalledFile& file : layout.files) {
        if (!file.before.empty()) {
            testsupport::writeFile(folder + "/" + file.name, file.before);
        }
    }
    fs::permissions(folder + "/morvane.exe", fs::perms::owner_all, fs::perm_options::add);
}

struct Verdict {
    std::vector<std::string> torn;
    std::vector<std::string> stray;
    std::string badLog;
    bool wholeNew = true;
};

bool isLogRecord(const std::string& line) {
    static const std::regex record(R"re("\d\d/[A-Z][a-z][a-z]/\d{4}","[^\r\n]*"\r)re");
    return std::regex_match(line, record);
}

Verdict inspect(const Installation& layout, const std::string& folder) {
    Verdict verdict;
    std::set<std::string> known = {"NoteError.txt", "plugins"};
    for (const InstalledFile& file : layout.files) {
        known.insert(file.name);
        const std::string path = folder + "/" + file.name;
        if (!fs::exists(path)) {
            verdict.wholeNew = false;
            if (!file.before.empty()) {
                verdict.torn.push_back(file.name + " (gone)");
            }
            continue;
        }
        const std::string now = readFile(path);
        if (now != file.after) {
            verdict.wholeNew = false;
            if (now != file.before) {
                verdict.torn.push_back(file.name);
            }
        }
    }
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = fs::relative(it->path(), folder).string();
        if (name == "temp") {
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

struct Child {
    std::string program;
    std::string host;
    std::string libraryFolder;
    std::string output;
};

// Runs the child with the given mode; its exit status, or -SIGNAL.
int runChild(const Child& child, const std::string& folder, const std::vector<std::string>& mode) {
    std::vector<std::string> arguments = {child.program, folder, child.host, child.libraryFolder};
    arguments.insert(arguments.end(), mode.begin(), mode.end());
    testsupport::ChildProcess process(arguments, child.output);
    const int status = process.wait().status;
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

// Where the kill points lie: the moments of each stage from a counting run,
// and the moments of the instruction stage that fall inside a copy.
struct Calibration {
    std::map<std::string, std::pair<long, long>> stages;
    std::vector<long> instructionCalls;
    long unzipMicros = 0;
};

Calibration calibrate(const Child& child, const std::string& folder) {
    if (runChild(child, folder, {"count"}) != 0) {
        throw std::runtime_error("the counting run did not complete:\n" + readFile(child.output));
    }
    Calibration calibration;
    std::istringstream lines(readFile(child.output));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "stage") {
            std::string name;
            long first = 0;
            long last = 0;
            words >> name >> first >> last;
            calibration.stages[name] = {first, last};
        } else if (kind == "call") {
            long index = 0;
            std::string stage;
            words >> index >> stage;
            if (stage == "instructions") {
                calibration.instructionCalls.push_back(index);
            }
        } else if (kind == "unzip-us") {
            words >> calibration.unzipMicros;
        }
    }
    return calibration;
}

// `count` moments spread evenly over [first, last].
std::vector<long> spread(long first, long last, int count) {
    std::vector<long> points;
    for (int i = 0; i < count; ++i) {
        points.push_back(first + (last - first) * i / std::max(1, count - 1));
    }
    return points;
}

struct KillPoint {
    std::vector<std::string> mode;
    std::string where;
};

std::vector<KillPoint> choosePoints(const Calibration& calibration, int total) {
    std::vector<KillPoint> points;
    const auto add = [&](const std::string& stage, int count) {
        const auto found = calibration.stages.find(stage);
        if (found == calibration.stages.end()) {
            return;
        }
        for (long moment : spread(found->second.first, found->second.second, count)) {
            points.push_back(
                {{"at", std::to_string(moment)}, stage + " @" + std::to_string(moment)});
        }
    };
    const int versionCheck = total / 10;
    const int download = total * 3 / 20;
    const int unpacking = total * 3 / 20;
    const int end = 2;
    add("version-check", versionCheck);
    add("download", download);
    for (int i = 0; i < unpacking; ++i) {
        const long micros = calibration.unzipMicros * i / std::max(1, unpacking - 1);
        points.push_back(
            {{"unzip-us", std::to_string(micros)}, "unpacking +" + std::to_string(micros) + "us"});
    }
    // The rest inside the instruction file: every write, sync and close of
    // the copies lies there, so each line and each copy's middle is hit.
    const int instructions = total - static_cast<int>(points.size()) - end;
    const std::vector<long>& calls = calibration.instructionCalls;
    for (int i = 0; i < instructions && !calls.empty(); ++i) {
        const long moment = calls[calls.size() * static_cast<std::size_t>(i) /
                                  static_cast<std::size_t>(instructions)];
        points.push_back(
            {{"at", std::to_string(moment)}, "instructions @" + std::to_string(moment)});
    }
    add("end", end);
    return points;
}

} // namespace

int main(int argc, char** argv) {
    const int total = argc > 1 ? std::atoi(argv[1]) : 200;
    testsupport::TempDir scratch;
    const Installation layout = describe(scratch);

    std::vector<testsupport::PackageEntry> entries = {{"updater.ini", layout.instructions}};
    for (const InstalledFile& file : layout.files) {
        entries.push_back({file.packageName, file.after});
    }
    testsupport::buildPackage(scratch / "package.zip", entries);
    testsupport::LoopbackPublisher publisher("1.3.0\r\n", scratch / "package.zip");

    const std::string folder = scratch / "Morvane";
    const Child child{fs::path(argv[0]).parent_path() / "kill_anywhere_child", publisher.host(),
                      UNZIP32_FOLDER, scratch / "child-output.txt"};

    installOld(layout, folder);
    const auto started = std::chrono::steady_clock::now();
    const Calibration calibration = calibrate(child, folder);
    if (!inspect(layout, folder).wholeNew) {
        std::printf("the update without a kill did not install the new version\n");
        return 1;
    }
    const std::vector<KillPoint> points = choosePoints(calibration, total);

    int tried = 0;
    int torn = 0;
    int stray = 0;
    int recovered = 0;
    std::map<std::string, int> triedByStage;
    for (const KillPoint& point : points) {
        installOld(layout, folder);
        ++tried;
        triedByStage[point.where.substr(0, point.where.find(' '))]++;
        const int killed = runChild(child, folder, point.mode);
        Verdict afterKill = inspect(layout, folder);
        torn += static_cast<int>(afterKill.torn.size());
        stray += static_cast<int>(afterKill.stray.size());
        for (const std::string& name : afterKill.torn) {
            std::printf("torn after kill at %s: %s\n", point.where.c_str(), name.c_str());
        }
        for (const std::string& name : afterKill.stray) {
            std::printf("stray after kill at %s: %s\n", point.where.c_str(), name.c_str());
        }
        if (!afterKill.badLog.empty()) {
            std::printf("log record split after kill at %s: %s\n", point.where.c_str(),
                        afterKill.badLog.c_str());
        }
        // A run the kill did not reach ended by itself; the recovery is
        // then a run that finds nothing to do.
        const int again = runChild(child, folder, {"run"});
        const Verdict afterRecovery = inspect(layout, folder);
        const bool complete = afterRecovery.wholeNew && afterRecovery.torn.empty() &&
                              afterRecovery.stray.empty() && afterRecovery.badLog.empty() &&
                              !fs::exists(folder + "/temp");
        if (complete) {
            ++recovered;
        } else {
            std::printf("no recovery after kill at %s (kill status %d, run status %d):\n%s\n",
                        point.where.c_str(), killed, again, readFile(child.output).c_str());
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::printf("points by stage:");
    for (const auto& [stage, count] : triedByStage) {
        std::printf(" %s %d", stage.c_str(), count);
    }
    std::printf("\npoints tried      %d\n", tried);
    std::printf("torn files        %d\n", torn);
    std::printf("stray files       %d\n", stray);
    std::printf("recoveries        %d\n", recovered);
    std::printf("time              %.1f s\n", seconds);
    return torn == 0 && stray == 0 && recovered == tried ? 0 : 1;
}
