#include "KillSeries.h"

#include "testsupport/ChildProcess.h"
#include "testsupport/TreeCopy.h"
#include "testsupport/TreeSnapshot.h"

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;
using testsupport::readFile;

namespace killproof {

namespace {

// The first line of the child's output that begins with word, less it.
std::string said(const Child& child, const std::string& word) {
    std::istringstream lines(readFile(child.output));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(word + " ")) {
            return line.substr(word.size() + 1);
        }
    }
    return {};
}

// What the child said, and the installation's log.
std::string account(const Child& child, const std::string& folder) {
    const std::string log = folder + "/NoteError.txt";
    return readFile(child.output) + (fs::exists(log) ? "NoteError.txt:\n" + readFile(log) : "");
}

// Where the kill fell, by kind.
std::string landing(const Child& child, const Calibration& calibration) {
    std::istringstream killed(said(child, "killed"));
    Moment moment;
    if (!(killed >> moment.first >> moment.second)) {
        return "not killed";
    }
    return calibration.kindOf(moment);
}

// Whether a recovery left the installation whole, with nothing stray and no
// journal, and wholly old when the update was to fail.
bool recoveredWhole(const Verdict& verdict, int status, Whole end) {
    return status == 0 && verdict.whole != Whole::neither && !verdict.journal &&
           verdict.stray.empty() && (end == Whole::whollyNew || verdict.whole == Whole::old);
}

// What the kill left: torn files, and names outside temp and the journal.
void checkKilled(const Installation& layout, const std::string& folder, const std::string& where,
                 Tally& tally) {
    const Verdict afterKill = inspect(layout, folder);
    tally.tornFiles += static_cast<int>(afterKill.torn.size());
    for (const std::string& name : afterKill.torn) {
        std::printf("torn after kill at %s: %s\n", where.c_str(), name.c_str());
    }
    for (const std::string& name : afterKill.stray) {
        // A copy killed in the instant between naming its content and
        // renaming it over the target leaves that name; the recovery must
        // remove it.
        if (name.find(".replacing-") != std::string::npos) {
            ++tally.leftovers;
        } else {
            ++tally.stray;
            std::printf("stray after kill at %s: %s\n", where.c_str(), name.c_str());
        }
    }
    if (!afterKill.badLog.empty()) {
        std::printf("log record split after kill at %s: %s\n", where.c_str(),
                    afterKill.badLog.c_str());
    }
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

// What the next start does before its version check, in place, against how
// the copy ended; true when the installation is whole.
bool recoverInPlace(const Installation& layout, const Child& child, const std::string& folder,
                    Whole end, Whole copyEnded, const std::string& where, Tally& tally) {
    const int recovery = runChild(child, folder, {"recover"});
    const Verdict recoveredTo = inspect(layout, folder);
    tally.stray += static_cast<int>(recoveredTo.stray.size());
    for (const std::string& name : recoveredTo.stray) {
        std::printf("stray after recovery from kill at %s: %s\n", where.c_str(), name.c_str());
    }
    const bool whole = recoveredWhole(recoveredTo, recovery, end);
    if (whole && copyEnded != Whole::neither && copyEnded != recoveredTo.whole) {
        std::printf("the copy and the original recovered differently after kill at %s\n",
                    where.c_str());
    } else if (copyEnded != Whole::neither) {
        ++(copyEnded == Whole::old ? tally.copiesToOld : tally.copiesToNew);
    }
    tally.tornCopies += copyEnded == Whole::neither || (whole && copyEnded != recoveredTo.whole);
    if (whole) {
        ++(recoveredTo.whole == Whole::old ? tally.toOld : tally.toNew);
    } else {
        ++tally.tornInstallations;
        std::printf("not whole after recovery from kill at %s (recovery status %d):\n%s\n",
                    where.c_str(), recovery, readFile(child.output).c_str());
    }
    return whole;
}

// The run after the recovery: it must end as `end`, with nothing stray, no
// journal and no temp folder after an update. A run the kill did not reach
// ended by itself; this one then finds nothing to do.
bool runAgain(const Installation& layout, const Child& child, const std::string& folder, Whole end,
              const std::string& where, int killed, Tally& tally) {
    const bool fromOld = inspect(layout, folder).whole == Whole::old;
    const int again = runChild(child, folder, {"run"});
    ++tally.rerunWays[(fromOld ? "from old: " : "from new: ") + said(child, "way")];
    const Verdict afterRun = inspect(layout, folder);
    const bool complete = afterRun.whole == end && afterRun.torn.empty() &&
                          afterRun.stray.empty() && afterRun.badLog.empty() && !afterRun.journal &&
                          (end == Whole::old || !fs::exists(folder + "/temp"));
    if (!complete) {
        std::printf("not finished after kill at %s (kill status %d, run status %d):\n%s\n",
                    where.c_str(), killed, again, account(child, folder).c_str());
    }
    return complete;
}

} // namespace

int runChild(const Child& child, const std::string& folder, const std::vector<std::string>& mode) {
    std::vector<std::string> arguments = {child.program, folder, child.host, child.libraryFolder,
                                          child.key};
    arguments.insert(arguments.end(), mode.begin(), mode.end());
    testsupport::ChildProcess process(arguments, child.output);
    const int status = process.wait().status;
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

void killSeries(const Installation& layout, const Child& child, const std::string& folder,
                const Calibration& calibration, const std::vector<KillPoint>& points, Whole end,
                Tally& tally) {
    for (const KillPoint& point : points) {
        installOld(layout, folder);
        ++tally.tried;
        tally.aimed[point.kind]++;
        const int killed = runChild(child, folder, point.mode);
        const std::string landed = landing(child, calibration);
        tally.landed[landed]++;
        if (landed == "not killed") {
            std::printf("the run ended before its kill at %s (status %d):\n%s\n",
                        point.where.c_str(), killed, account(child, folder).c_str());
        }
        checkKilled(layout, folder, point.where, tally);
        const Whole copyEnded = recoverACopy(layout, child, folder, end, point.where, tally);
        const bool whole =
            recoverInPlace(layout, child, folder, end, copyEnded, point.where, tally);
        const bool complete = runAgain(layout, child, folder, end, point.where, killed, tally);
        tally.recovered += whole && complete;
    }
}

bool Tally::clean() const {
    return tornFiles == 0 && tornInstallations == 0 && stray == 0 && recovered == tried &&
           tornCopies == 0 && originalsChanged == 0;
}

void Tally::print(const std::string& series) const {
    const auto counts = [](const char* title, const std::map<std::string, int>& byName) {
        std::printf("  %s:", title);
        for (const auto& [name, count] : byName) {
            std::printf(" %s %d;", name.c_str(), count);
        }
        std::printf("\n");
    };
    std::printf("%s\n", series.c_str());
    if (!aimed.empty()) {
        counts("points aimed at", aimed);
        counts("kills landed in", landed);
        counts("the run after the recovery", rerunWays);
    }
    std::printf("  points tried %d, torn files %d, torn installations %d, stray files %d\n", tried,
                tornFiles, tornInstallations, stray);
    std::printf("  temporary names left by a kill, removed by the recovery %d\n", leftovers);
    std::printf("  recovered to old %d, to new %d; recoveries %d\n", toOld, toNew, recovered);
    std::printf("  copies recovered to old %d, to new %d, not whole %d; originals changed by a "
                "copy's recovery %d\n",
                copiesToOld, copiesToNew, tornCopies, originalsChanged);
    std::printf("  time %.1f s\n", seconds);
}

} // namespace killproof
