// Kill anywhere: runs the real update of an installation of 56 files
// against a publisher on loopback and kills the updater with SIGKILL at
// spread points of the run: the version check, the download, the unpacking,
// every line of the instruction file, the journal's writes, the commit,
// the end. A second series runs a package whose last line fails, and kills
// inside the rollback too. After each kill it checks that every installed
// file is wholly old or wholly new and that nothing but the installation's
// own files, the journal and a copy's temporary name (left by a kill in the
// instant between naming the content and renaming it into place) lies
// outside the temp folder; then it copies the installation with its
// journal to another folder and starts the updater's recovery there, which
// must leave the copy whole and the original as it was; then it starts the
// updater's recovery in place, as the next start does before its version
// check, and checks that the installation is wholly old or wholly new (as
// the copy) with nothing stray and no journal left; then it runs the
// updater again, which must end wholly new (wholly old for the failing
// package).
//
//   kill_anywhere [POINTS]      (default 300: two thirds for the update,
//                                one third for the failing package)
//
// Prints: points tried by kind, torn files, torn installations, stray
// files, recoveries, and each failing point. Exit status 0 when nothing is
// torn or stray and every recovery completed.

#include "testsupport/ChildProcess.h"
#include "testsupport/LoopbackPublisher.h"
#include "testsupport/PackageBuilder.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/TempDir.h"
#include "testsupport/TreeCopy.h"
#include "testsupport/TreeSnapshot.h"
#include "testsupport/VersionedExecutable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
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
const std::string journalName = ".updater-journal";

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

enum class Whole { old, whollyNew, neither };

struct Verdict {
    std::vector<std::string> torn;
    std::vector<std::string> stray;
    std::string badLog;
    Whole whole = Whole::neither;
    bool journal = false;
};

bool isLogRecord(const std::string& line) {
    static const std::regex record(R"re("\d\d/[A-Z][a-z][a-z]/\d{4}","[^\r\n]*"\r)re");
    return std::regex_match(line, record);
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

// One moment of a counting run that a kill can fall on, and its kind:
// version-check, download, unpacking, instructions, journal, commit,
// rollback, end.
struct Moment {
    long index;
    std::string kind;
};

// Where the kill points lie: the moments of each stage from a counting run,
// the file calls of the instruction stage by kind, and how long the
// unpacking takes.
struct Calibration {
    std::map<std::string, std::pair<long, long>> stages;
    std::map<std::string, std::vector<long>> calls;
    long unzipMicros = 0;
};

// The kind of one file call of the instruction stage. The rollback begins
// at its first removal or kept file renamed back, and ends when the log is
// written; the commit is the rename that marks the journal complete and the
// sync of its folder after it.
class CallKinds {
public:
    std::string kindOf(const std::string& call, const std::string& path, const std::string& other) {
        const std::string journal = "/" + journalName;
        const bool inJournal =
            path.find(journal) != std::string::npos || other.find(journal) != std::string::npos;
        if (path.ends_with("/NoteError.txt")) {
            m_rollingBack = false;
            return "instructions";
        }
        if (call == "rename" && other.ends_with(journal + "/complete")) {
            m_committing = true;
            m_committed = true;
            return "commit";
        }
        if (m_committing) {
            m_committing = call != "close";
            return "commit";
        }
        if (m_committed) {
            // The kept files removed once the update is final.
            return "end";
        }
        if (call == "unlink" || (call == "rename" && path.find(journal) != std::string::npos)) {
            m_rollingBack = true;
        }
        if (m_rollingBack) {
            return "rollback";
        }
        return inJournal ? "journal" : "instructions";
    }

private:
    bool m_committing = false;
    bool m_committed = false;
    bool m_rollingBack = false;
};

Calibration calibrate(const Child& child, const std::string& folder) {
    const int status = runChild(child, folder, {"count"});
    if (status != 0 && status != 4) {
        throw std::runtime_error("the counting run did not complete:\n" + readFile(child.output));
    }
    Calibration calibration;
    CallKinds kinds;
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
            std::string call;
            std::string path;
            std::string other;
            words >> index >> stage >> call >> path >> other;
            if (stage == "instructions") {
                calibration.calls[kinds.kindOf(call, path, other)].push_back(index);
            } else if (stage == "end") {
                calibration.calls["end"].push_back(index);
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
    std::string kind;
    std::string where;
};

class PointChoice {
public:
    explicit PointChoice(const Calibration& calibration) : m_calibration(calibration) {}

    // `count` moments spread over a stage's whole range.
    void stage(const std::string& name, int count) {
        const auto found = m_calibration.stages.find(name);
        if (found != m_calibration.stages.end()) {
            for (long moment : spread(found->second.first, found->second.second, count)) {
                at(name, moment);
            }
        }
    }
    // `count` of the file calls of a kind, spread over them (all of them
    // when there are fewer).
    void calls(const std::string& kind, int count) {
        const auto found = m_calibration.calls.find(kind);
        if (found == m_calibration.calls.end() || count <= 0) {
            return;
        }
        const std::vector<long>& calls = found->second;
        std::set<long> chosen;
        for (int i = 0; i < count; ++i) {
            chosen.insert(calls[calls.size() * static_cast<std::size_t>(i) /
                                static_cast<std::size_t>(count)]);
        }
        for (long moment : chosen) {
            at(kind, moment);
        }
    }
    void unpacking(int count) {
        for (int i = 0; i < count; ++i) {
            const long micros = m_calibration.unzipMicros * i / std::max(1, count - 1);
            m_points.push_back({{"unzip-us", std::to_string(micros)},
                                "unpacking",
                                "unpacking +" + std::to_string(micros) + "us"});
        }
    }
    std::size_t callCount(const std::string& kind) const {
        const auto found = m_calibration.calls.find(kind);
        return found == m_calibration.calls.end() ? 0 : found->second.size();
    }
    std::size_t size() const { return m_points.size(); }
    const std::vector<KillPoint>& points() const { return m_points; }

private:
    void at(const std::string& kind, long moment) {
        m_points.push_back(
            {{"at", std::to_string(moment)}, kind, kind + " @" + std::to_string(moment)});
    }

    const Calibration& m_calibration;
    std::vector<KillPoint> m_points;
};

// The points of the update: every stage, most inside the instruction file
// where every write, sync, link, rename and close of the copies and of the
// journal lies, every call of the commit, and the end.
std::vector<KillPoint> updatePoints(const Calibration& calibration, int total) {
    PointChoice choice(calibration);
    choice.stage("version-check", total / 10);
    choice.stage("download", total * 3 / 20);
    choice.unpacking(total * 3 / 20);
    choice.calls("commit", static_cast<int>(choice.callCount("commit")));
    choice.calls("end", 10);
    const int left = std::max(0, total - static_cast<int>(choice.size()));
    choice.calls("journal", left / 3);
    choice.calls("instructions", left - left / 3);
    return choice.points();
}

// The points of the failing package: inside the instruction file and its
// journal, and most inside the rollback.
std::vector<KillPoint> failingPoints(const Calibration& calibration, int total) {
    PointChoice choice(calibration);
    choice.calls("instructions", total / 4);
    choice.calls("journal", total / 6);
    choice.calls("rollback", total - static_cast<int>(choice.size()));
    return choice.points();
}

struct Tally {
    int tried = 0;
    int tornFiles = 0;
    int tornInstallations = 0;
    int stray = 0;
    int leftovers = 0;
    int toOld = 0;
    int toNew = 0;
    int recovered = 0;
    // The installation copied after the kill and recovered in the copy.
    int copiesToOld = 0;
    int copiesToNew = 0;
    int tornCopies = 0;
    int originalsChanged = 0;
    std::map<std::string, int> byKind;
};

// Whether a recovery left the installation whole, with nothing stray and no
// journal, and wholly old when the update was to fail.
bool recoveredWhole(const Verdict& verdict, int status, Whole end) {
    return status == 0 && verdict.whole != Whole::neither && !verdict.journal &&
           verdict.stray.empty() && (end == Whole::whollyNew || verdict.whole == Whole::old);
}

// The installation as the kill left it, copied with its journal to another
// folder, as a user carries a broken installation elsewhere, and recovered
// there: the copy must end whole, and its recovery must change nothing of
// the original. What it ended as, or neither when it is not whole.
Whole recoverACopy(const Installation& layout, const Child& child, const std::string& folder,
                   Whole end, const std::string& where, Tally& tally) {
    const std::string copy = folder + " copy";
    fs::remove_all(copy);
    const testsupport::TreeSnapshot original = testsupport::snapshotTree(folder, {});
    testsupport::copyTree(folder, copy);
    const int status = runChild(child, copy, {"recover"});
    const Verdict verdict = inspect(layout, copy);
    const bool whole = recoveredWhole(verdict, status, end);
    if (!whole) {
        std::printf("copy not whole after recovery from kill at %s (recovery status %d):\n%s\n",
                    where.c_str(), status, readFile(child.output).c_str());
    }
    if (testsupport::snapshotTree(folder, {}) != original) {
        ++tally.originalsChanged;
        std::printf("the copy's recovery changed the original after kill at %s\n", where.c_str());
    }
    fs::remove_all(copy);
    return whole ? verdict.whole : Whole::neither;
}

// Kills at every point, recovers, runs again; `end` is what the last run
// must leave.
void killSeries(const Installation& layout, const Child& child, const std::string& folder,
                const std::vector<KillPoint>& points, Whole end, Tally& tally) {
    for (const KillPoint& point : points) {
        installOld(layout, folder);
        ++tally.tried;
        tally.byKind[point.kind]++;
        const int killed = runChild(child, folder, point.mode);
        const Verdict afterKill = inspect(layout, folder);
        tally.tornFiles += static_cast<int>(afterKill.torn.size());
        for (const std::string& name : afterKill.torn) {
            std::printf("torn after kill at %s: %s\n", point.where.c_str(), name.c_str());
        }
        for (const std::string& name : afterKill.stray) {
            // A copy killed in the instant between naming its content and
            // renaming it over the target leaves that name; the recovery
            // must remove it.
            if (name.find(".replacing-") != std::string::npos) {
                ++tally.leftovers;
            } else {
                ++tally.stray;
                std::printf("stray after kill at %s: %s\n", point.where.c_str(), name.c_str());
            }
        }
        if (!afterKill.badLog.empty()) {
            std::printf("log record split after kill at %s: %s\n", point.where.c_str(),
                        afterKill.badLog.c_str());
        }
        const Whole copyEnded = recoverACopy(layout, child, folder, end, point.where, tally);
        // What the next start does before its version check.
        const int recovery = runChild(child, folder, {"recover"});
        const Verdict recoveredTo = inspect(layout, folder);
        tally.stray += static_cast<int>(recoveredTo.stray.size());
        for (const std::string& name : recoveredTo.stray) {
            std::printf("stray after recovery from kill at %s: %s\n", point.where.c_str(),
                        name.c_str());
        }
        const bool whole = recoveredWhole(recoveredTo, recovery, end);
        if (whole && copyEnded != Whole::neither && copyEnded != recoveredTo.whole) {
            std::printf("the copy and the original recovered differently after kill at %s\n",
                        point.where.c_str());
        } else if (copyEnded != Whole::neither) {
            ++(copyEnded == Whole::old ? tally.copiesToOld : tally.copiesToNew);
        }
        tally.tornCopies +=
            copyEnded == Whole::neither || (whole && copyEnded != recoveredTo.whole);
        if (whole) {
            ++(recoveredTo.whole == Whole::old ? tally.toOld : tally.toNew);
        } else {
            ++tally.tornInstallations;
            std::printf("not whole after recovery from kill at %s (recovery status %d):\n%s\n",
                        point.where.c_str(), recovery, readFile(child.output).c_str());
        }
        // A run the kill did not reach ended by itself; the next run then
        // finds nothing to do.
        const int again = runChild(child, folder, {"run"});
        const Verdict afterRun = inspect(layout, folder);
        const bool complete = afterRun.whole == end && afterRun.torn.empty() &&
                              afterRun.stray.empty() && afterRun.badLog.empty() &&
                              !afterRun.journal &&
                              (end == Whole::old || !fs::exists(folder + "/temp"));
        if (whole && complete) {
            ++tally.recovered;
        } else if (!complete) {
            std::printf("not finished after kill at %s (kill status %d, run status %d):\n%s\n",
                        point.where.c_str(), killed, again, readFile(child.output).c_str());
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const int total = argc > 1 ? std::atoi(argv[1]) : 300;
    testsupport::TempDir scratch;
    const Installation layout = describe(scratch);

    const auto buildInto = [&](const std::string& archive, const std::string& lastLine) {
        std::vector<testsupport::PackageEntry> entries = {
            {"updater.ini", layout.instructions + lastLine}};
        for (const InstalledFile& file : layout.files) {
            entries.push_back({file.packageName, file.after});
        }
        testsupport::buildPackage(archive, entries);
    };
    buildInto(scratch / "update.zip", "");
    buildInto(scratch / "failing.zip", "MOVE;missing.dll;APP_PATH\r\n");

    const std::string folder = scratch / "Morvane";
    const auto started = std::chrono::steady_clock::now();
    Tally tally;
    for (const bool failing : {false, true}) {
        testsupport::LoopbackPublisher publisher(
            "1.3.0\r\n", scratch / (failing ? "failing.zip" : "update.zip"));
        const Child child{fs::path(argv[0]).parent_path() / "kill_anywhere_child", publisher.host(),
                          UNZIP32_FOLDER, scratch / "child-output.txt"};
        installOld(layout, folder);
        const Calibration calibration = calibrate(child, folder);
        const Whole end = failing ? Whole::old : Whole::whollyNew;
        if (inspect(layout, folder).whole != end) {
            std::printf("the %s without a kill did not end as it should\n",
                        failing ? "failing update" : "update");
            return 1;
        }
        const int share = failing ? total - total * 2 / 3 : total * 2 / 3;
        killSeries(layout, child, folder,
                   failing ? failingPoints(calibration, share) : updatePoints(calibration, share),
                   end, tally);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::printf("points by kind:");
    for (const auto& [kind, count] : tally.byKind) {
        std::printf(" %s %d", kind.c_str(), count);
    }
    std::printf("\npoints tried         %d\n", tally.tried);
    std::printf("torn files           %d\n", tally.tornFiles);
    std::printf("torn installations   %d\n", tally.tornInstallations);
    std::printf("stray files          %d\n", tally.stray);
    std::printf("temporary names left by a kill, removed by the recovery %d\n", tally.leftovers);
    std::printf("recovered to old     %d\n", tally.toOld);
    std::printf("recovered to new     %d\n", tally.toNew);
    std::printf("recoveries           %d\n", tally.recovered);
    std::printf("copies recovered to old %d, to new %d, not whole %d; originals changed by a "
                "copy's recovery %d\n",
                tally.copiesToOld, tally.copiesToNew, tally.tornCopies, tally.originalsChanged);
    std::printf("time                 %.1f s\n", seconds);
    return tally.tornFiles == 0 && tally.tornInstallations == 0 && tally.stray == 0 &&
                   tally.recovered == tally.tried && tally.tornCopies == 0 &&
                   tally.originalsChanged == 0
               ? 0
               : 1;
}
