// Power cuts at every moment of an update: the real update of a 37-file
// installation through the window, its instruction stage recorded through
// the file seam. For every call the stage makes (every write, sync, link,
// rename, removal and new folder), the disk a power cut just before it
// would leave is built — only what was synced kept — and the next start's
// recovery run on it. The temp folder, which no recovery reads, is left as
// it is. Each must end with the installation byte for byte
// wholly old or wholly new, and no journal left. This is what shows that
// the syncs are in the right places.
#include "DurableDisk.h"
#include "fixtures/EndToEndFixture.h"
#include "testsupport/CaseName.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/TreeSnapshot.h"

#include <cstdio>
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

struct Figures {
    std::size_t cuts = 0;
    std::size_t states = 0;
    std::size_t old = 0;
    std::size_t whollyNew = 0;
    std::size_t torn = 0;
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

    // Every cut, each followed by the next start's recovery. Cuts between
    // the same two syncs leave the same disk, which is built and recovered
    // once for all of them.
    // The next start's recovery; true when it left a whole installation
    // and no journal.
    bool recover() {
        platform::ScriptedToolkit startUi;
        frmUpdater restarted(startUi, startUi, services,
                             UpdaterSettings{install, "127.0.0.1:1", "127.0.0.1:1", ""});
        return restarted.finishEarlierUpdate() && !testsupport::exists(app(".updater-journal"));
    }

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
            const bool whole = recover();
            const TreeSnapshot now = snapshotTree(install);
            if (whole && now == before) {
                figures.old += cuts;
            } else if (whole && now == after) {
                figures.whollyNew += cuts;
            } else {
                figures.torn += cuts;
                figures.failures.push_back("cut before call " + std::to_string(moment) + ":\n" +
                                           testsupport::treeDifferences(before, now));
            }
            moment = next;
        }
        return figures;
    }

    // Prints the series' figures and fails the test for every torn disk.
    static void report(const char* series, const Figures& figures) {
        std::printf("%s: %zu cut points (%zu distinct disks), %zu wholly old, %zu wholly new, "
                    "%zu torn\n",
                    series, figures.cuts, figures.states, figures.old, figures.whollyNew,
                    figures.torn);
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
    EXPECT_GT(figures.old, 0u);
    EXPECT_EQ(figures.whollyNew > 0, series.lands);
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
        ASSERT_TRUE(recover());
    }
    ASSERT_EQ(snapshotTree(install), before);

    const Figures figures = cutEverywhere(rollback);

    report("rollback at start", figures);
    EXPECT_EQ(figures.whollyNew, 0u);
}

} // namespace
