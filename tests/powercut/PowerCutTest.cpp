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
#include "PowerCut.h"
#include "testsupport/CaseName.h"
#include "testsupport/PatternedBytes.h"

#include <sys/stat.h>

using testsupport::snapshotTree;

namespace {

constexpr int libraries = 30;
constexpr int plugins = 5;

std::string content(const std::string& tag, std::size_t size) {
    return tag + testsupport::patternedBytes(size);
}

class WholePackagePowerCut : public PowerCut {
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
};

struct Series {
    const char* name;
    std::string lastLine; // of the package's instruction file
    bool lands;           // the run installs the update
};

class PowerCutSeries : public WholePackagePowerCut, public ::testing::WithParamInterface<Series> {};

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
TEST_F(WholePackagePowerCut, EveryCutOfARollbackAtStartIsFinishedByTheStartAfterIt) {
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
