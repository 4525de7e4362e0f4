#include "PowerCut.h"

#include "journal/JournalRecovery.h"
#include "testsupport/TreeCopy.h"

#include <cstdio>
#include <filesystem>
#include <memory>

using testsupport::snapshotTree;
using testsupport::TreeSnapshot;

void PowerCut::recordRun(const std::string& from) {
    before = snapshotTree(install);
    std::optional<fileio::ReplacedSystemCalls> watched;
    ui.atEveryPump([&] {
        const std::string caption = ui.lblMessage().caption();
        if (!disk && caption == from) {
            // Nothing in the temp folder is read by a recovery.
            disk.emplace(install, std::set<std::string>{"temp"});
            watched.emplace(watchedCalls());
        }
        if (disk && !m_instructing && caption == "Procesing Updates") {
            m_instructing = true;
            instructionsBegin = disk->moments();
            atInstructions = snapshotTree(install);
        }
    });
    ui.answerNext(platform::MsgBoxAnswer::yes);
    runUpdate();
    watched.reset();
    ui.atEveryPump(nullptr);
    after = snapshotTree(install);
}

fileio::SystemCalls PowerCut::watchedCalls() {
    fileio::SystemCalls calls = disk->calls();
    const std::string temp = install + "/temp/";
    const auto beforeInstructions = [this] { return !m_instructing; };
    calls.open = [this, temp, beforeInstructions, open = calls.open](const char* path, int flags,
                                                                     mode_t mode) {
        const std::string name = path;
        if (beforeInstructions() && name.starts_with(install + "/") && !name.starts_with(temp)) {
            ++installedFilesTaken;
        }
        return open(path, flags, mode);
    };
    calls.linkat = [this, temp, beforeInstructions, linkat = calls.linkat](
                       int fromFolder, const char* from, int toFolder, const char* to, int flags) {
        if (beforeInstructions() && std::string(to).starts_with(temp)) {
            ++installedFilesTaken;
        }
        return linkat(fromFolder, from, toFolder, to, flags);
    };
    return calls;
}

bool PowerCut::recover(const std::string& folder) {
    const std::unique_ptr<platform::FileSystem> files = services.newFileSystem();
    const updater::Recovery recovery =
        updater::recoverEarlierUpdate(updater::InstallationPaths(folder), *files);
    return recovery.outcome != updater::Recovery::Outcome::failed &&
           !testsupport::exists(folder + "/.updater-journal");
}

PowerCut::Ending PowerCut::tally(const std::string& folder, bool whole, std::size_t cuts,
                                 const std::string& where, Endings& endings,
                                 Figures& figures) const {
    const TreeSnapshot now = snapshotTree(folder);
    if (whole && now == before) {
        endings.old += cuts;
        return Ending::old;
    }
    if (whole && now == after) {
        endings.whollyNew += cuts;
        return Ending::whollyNew;
    }
    endings.torn += cuts;
    figures.failures.push_back(where + ":\n" + testsupport::treeDifferences(before, now));
    return Ending::torn;
}

void PowerCut::recoverACopy(std::size_t cuts, const std::string& where, Figures& figures) {
    const std::string copy = root / "Copy";
    std::filesystem::remove_all(copy);
    const TreeSnapshot original = snapshotTree(install, {});
    testsupport::copyTree(install, copy);
    tally(copy, recover(copy), cuts, where + ", recovered in a copy", figures.copied, figures);
    if (snapshotTree(install, {}) != original) {
        figures.originalsChanged += cuts;
        figures.failures.push_back(where + ": the copy's recovery changed the original");
    }
}

Figures PowerCut::cutEverywhere(const DurableDisk& recorded) {
    // What the recovery syncs is not what is tested here: it need not wait
    // for the disk.
    fileio::SystemCalls unsynced = fileio::realSystemCalls();
    unsynced.fsync = [](int) { return 0; };
    unsynced.syncfs = [](int) { return 0; };
    const fileio::ReplacedSystemCalls quick(unsynced);
    Figures figures;
    for (std::size_t moment = 0; moment <= recorded.moments();) {
        const std::size_t syncs = recorded.syncsBefore(moment);
        std::size_t next = moment + 1;
        while (next <= recorded.moments() && recorded.syncsBefore(next) == syncs) {
            ++next;
        }
        const std::size_t cuts = next - moment;
        figures.cuts += cuts;
        ++figures.states;
        recorded.materialize(moment);
        const std::string where = "cut before call " + std::to_string(moment);
        recoverACopy(cuts, where, figures);
        const Ending ending =
            tally(install, recover(install), cuts, where, figures.inPlace, figures);
        const std::size_t early =
            std::min(next, instructionsBegin) - std::min(moment, instructionsBegin);
        Endings& beforeInstructions = figures.beforeInstructions;
        (ending == Ending::old         ? beforeInstructions.old
         : ending == Ending::whollyNew ? beforeInstructions.whollyNew
                                       : beforeInstructions.torn) += early;
        moment = next;
    }
    return figures;
}

void PowerCut::report(const char* series, const Figures& figures) {
    std::printf("%s: %zu cut points (%zu distinct disks), %zu wholly old, %zu wholly new, "
                "%zu torn; recovered in a copy: %zu wholly old, %zu wholly new, %zu torn, "
                "%zu originals changed\n",
                series, figures.cuts, figures.states, figures.inPlace.old,
                figures.inPlace.whollyNew, figures.inPlace.torn, figures.copied.old,
                figures.copied.whollyNew, figures.copied.torn, figures.originalsChanged);
    for (const std::string& failure : figures.failures) {
        ADD_FAILURE() << failure;
    }
}
