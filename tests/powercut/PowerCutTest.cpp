// Power cuts at every moment of an update: the real update of a 37-file
// installation through the window, its instruction stage recorded through
// the file seam. For every call the stage makes (every write, sync, link,
// rename, removal and new folder), the disk a power cut just before it
// would leave is built — only what was synced kept — and the next start's
// recovery run on it, in a copy of the installation made after the cut
// (whose recovery must leave the original as it found it) and in place.
// The temp folder, which no recovery reads, is left as it is. Each must end
// with the installation byte for byte wholly old or wholly new, and no
// journal left. This is what shows that
// the syncs are in the right places.
#include "DurableDisk.h"
#include "fixtures/EndToEndFixture.h"
#include "testsupport/CaseName.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/TreeCopy.h"
#include "testsupport/TreeSnapshot.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <sys/stat.h>

using updater::frmUpdater;
using updater::UpdaterSettings;

using platform::MsgBoxAnswer;
using testsupport::readFile;
using testsupport::snapshotTree;
using testsupport::TreeSnapshot;

namespace {

constexpr int libraries = 30;
constexpr int plugins = 5;

std::string content(const std::string& tag, std::size_t size) {
    return tag + testsupport::patternedBytes(size);
}

// How the recoveries of the disks a series' cuts left ended.
struct Endings {
    std::size_t old = 0;
    std::size_t whollyNew = 0;
    std::size_t torn = 0;
};

struct Figures {
    std::size_t cuts = 0;
    std::size_t states = 0;
    Endings inPlace;
    // The installation copied to another folder after the cut and recovered
    // there.
    Endings copied;
    // Cuts whose copy's recovery changed anything of the original.
    std::size_t originalsChanged = 0;
    std::vector<std::string> failures;
};

class PowerCut : public EndToEndFixture {
protected:
    // morvane.exe and the libraries installed; the package replaces them,
    // makes a plugins folder and fills it, then runs lastLine.
    void preparePackage(const std::string& lastLine) {
        std::vector<testsupport::PackageEntry> entries;
        std::string instructions = "MOVE;morvane.exe;APP_PATH\r\n";
        entries.push_back({"bin/morvane.exe", newExecutable()});
        chmod(app("morvane.exe").c_str(), 0755);
        for (int i = 0; i < libraries; ++i) {
            const std::string name = "lib" + std::to_string(i) + ".dat";
            const std::size_t size = 3 + static_cast<std::size_t>(i) * 397 % 9000;
            testsupport::writeFile(app(name), content("old " + name, size));
            chmod(app(name).c_str(), i % 3 == 0 ? 0600 : 0644);
            entries.push_back({"lib/" + name, content("new " + name, size + 5)});
            instructions += "MOVE;" + name + ";APP_PATH\r\n";
        }
        instructions += "MAKEDIR;plugins;APP_PATH\r\n";
        for (int i = 0; i < plugins; ++i) {
            const std::string name = "plugin" + std::to_string(i) + ".so";
            entries.push_back({name, content("new " + name, 4000)});
            instructions += "MOVE;" + name + ";APP_PATH\\PLUGINS\r\n";
        }
        entries.push_back({"updater.ini", instructions + lastLine});
        testsupport::buildPackage(staging / "package.zip", entries);
    }

    // Runs the update once, recording from the moment its instruction stage
    // begins; the installation as it was before and after.
    void recordRun() {
        before = snapshotTree(install);
        std::optional<fileio::ReplacedSystemCalls> watched;
        ui.atEveryPump([&] {
            if (!disk && ui.lblMessage().caption() == "Procesing Updates") {
                // Nothing in the temp folder is read by a recovery.
                disk.emplace(install, std::set<std::string>{"temp"});
                watched.emplace(disk->calls());
            }
        });
        ui.answerNext(MsgBoxAnswer::yes);
        runUpdate();
        watched.reset();
        ui.atEveryPump(nullptr);
        after = snapshotTree(install);
    }

    // The next start's recovery of the installation at folder; true when it
    // left a whole installation and no journal.
    bool recover(const std::string& folder) {
        platform::ScriptedToolkit startUi;
        frmUpdater restarted(startUi, startUi, services,
                             UpdaterSettings{folder, "127.0.0.1:1", "127.0.0.1:1", ""});
        return restarted.finishEarlierUpdate() &&
               !testsupport::exists(folder + "/.updater-journal");
    }

    // Counts how the recovery at folder ended for the cuts that left this
    // disk; a torn ending is kept for the report.
    void tally(const std::string& folder, bool whole, std::size_t cuts, const std::string& where,
               Endings& endings, Figures& figures) const {
        const TreeSnapshot now = snapshotTree(folder);
        if (whole && now == before) {
            endings.old += cuts;
        } else if (whole && now == after) {
            endings.whollyNew += cuts;
        } else {
            endings.torn += cuts;
            figures.failures.push_back(where + ":\n" + testsupport::treeDifferences(before, now));
        }
    }

    // The installation the cut left, copied with its journal to another
    // folder and recovered there: the copy must end whole, and its
    // recovery must leave the original as it was.
    void recoverACopy(std::size_t cuts, const std::string& where, Figures& figures) {
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

    // Every cut, each followed by the next start's recovery, in a copy of
    // the installation and in place. Cuts between the same two syncs leave
    // the same disk, which is built and recovered once for all of them.
    Figures cutEverywhere(const DurableDisk& recorded) {
        // What the recovery syncs is not what is tested here: it need not
        // wait for the disk.
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
            tally(install, recover(install), cuts, where, figures.inPlace, figures);
            moment = next;
        }
        return figures;
    }

    // Prints the series' figures and fails the test for every torn disk.
    static void report(const char* series, const Figures& figures) {
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

    TreeSnapshot before;
    TreeSnapshot after;
    std::optional<DurableDisk> disk;
};

struct Series {
    const char* name;
    std::string lastLine; // of the package's instruction file
    bool lands;           // the run installs the update
};

class PowerCutSeries : public PowerCut, public ::testing::WithParamInterface<Series> {};

// Cut anywhere in the run, the next start leaves the installation wholly old
// or, once the update's commit point is passed, wholly new; a run that
// fails is never found new.
TEST_P(PowerCutSeries, EveryCutRecoversToWhollyOldOrWhollyNew) {
    const Series& series = GetParam();
    preparePackage(series.lastLine);
    recordRun();
    ASSERT_EQ(before != after, series.lands);
    ASSERT_TRUE(disk);

    const Figures figures = cutEverywhere(*disk);
    report(series.name, figures);

    EXPECT_GE(figures.cuts, 200u);
    EXPECT_GT(figures.inPlace.old, 0u);
    EXPECT_EQ(figures.inPlace.whollyNew > 0, series.lands);
    EXPECT_EQ(figures.copied.whollyNew, figures.inPlace.whollyNew);
}

INSTANTIATE_TEST_SUITE_P(Runs, PowerCutSeries,
                         ::testing::Values(Series{"update", "", true},
                                           Series{"failedUpdate", "MOVE;missing.dll;APP_PATH\r\n",
                                                  false}),
                         testsupport::CaseName());

// A second power cut while the next start rolls the update back: the start
// after it must finish the job. The rollback is the longest there is, of a
// cut just before the commit point.
TEST_F(PowerCut, EveryCutOfARollbackAtStartIsFinishedByTheStartAfterIt) {
    preparePackage("");
    recordRun();
    ASSERT_TRUE(disk);
    disk->materialize(disk->renameTo("/.updater-journal/complete"));
    DurableDisk rollback(install, {"temp"});
    {
        const fileio::ReplacedSystemCalls watched(rollback.calls());
        ASSERT_TRUE(recover(install));
    }
    ASSERT_EQ(snapshotTree(install), before);

    const Figures figures = cutEverywhere(rollback);

    report("rollback at start", figures);
    EXPECT_EQ(figures.inPlace.whollyNew + figures.copied.whollyNew, 0u);
}

} // namespace
