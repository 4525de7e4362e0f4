// An update that brings the updater's own program puts it in place only
// after the update's commit point: until then the installed updater is the
// one that wrote the journal, so that an update going back to an older
// updater never leaves it a journal it cannot read. A start after a kill
// between the commit and the program's placing puts it there.
#include "JournalFixture.h"
#include "testsupport/CaseName.h"
#include "testsupport/TreeSnapshot.h"

#include <cerrno>
#include <cstdio>
#include <optional>

using testsupport::exists;
using testsupport::readFile;
using testsupport::snapshotTree;
using testsupport::treeDifferences;
using testsupport::writeFile;

namespace {

// The updater in the middle of the instruction file, as a publisher's
// sorted release lists it.
const std::string withTheUpdater = "MOVE;morvane.exe;APP_PATH\r\n"
                                   "MOVE;updater;APP_PATH\r\n"
                                   "MOVE;a.dll;APP_PATH\r\n";

enum class Stop {
    atTheCommit,      // a kill before the commit point
    beforeTheProgram, // a kill after it, before the program's placing
    programRefused,   // the placing fails: the run rolls back
};

struct ProgramCase {
    const char* name;
    Stop stop;
    bool installedBefore; // the installation had an updater of its own
    bool lands;           // the next start leaves the update installed
};

class OwnProgram : public JournalFixture, public ::testing::WithParamInterface<ProgramCase> {
protected:
    OwnProgram() { writeFile(temp("updater"), "new updater"); }
};

TEST_P(OwnProgram, TakesItsPlaceOnlyOnceTheUpdateIsComplete) {
    const ProgramCase& c = GetParam();
    if (c.installedBefore) {
        installed("updater", "old updater", 0755);
    }
    const auto before = snapshotTree(installFolder);
    writeFile(temp("updater.ini"), withTheUpdater);
    {
        const fileio::ReplacedSystemCalls calls(c.stop == Stop::atTheCommit ? cutAtTheCommit()
                                                : c.stop == Stop::beforeTheProgram
                                                    ? atTheProgramsPlace()
                                                    : atTheProgramsPlace(EIO));
        if (c.stop == Stop::programRefused) {
            EXPECT_FALSE(form.processExtract());
        } else {
            EXPECT_THROW(form.processExtract(), Cut);
        }
    }
    // Whatever became of the run, the updater in place is the one it was.
    EXPECT_EQ(exists(app("updater")), c.installedBefore);
    if (c.installedBefore) {
        EXPECT_EQ(readFile(app("updater")), "old updater");
    }
    EXPECT_EQ(exists(journal() + "/complete"), c.stop == Stop::beforeTheProgram);

    EXPECT_TRUE(recoverAt(installFolder));

    EXPECT_FALSE(exists(journal()));
    if (c.lands) {
        EXPECT_EQ(readFile(app("updater")), "new updater");
        EXPECT_EQ(readFile(app("morvane.exe")), "new morvane.exe");
        EXPECT_EQ(readFile(app("a.dll")), "new a.dll");
    } else {
        EXPECT_EQ(treeDifferences(before, snapshotTree(installFolder)), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stops, OwnProgram,
    ::testing::Values(ProgramCase{"CutBeforeTheCommit", Stop::atTheCommit, true, false},
                      ProgramCase{"CutBeforeThePlacing", Stop::beforeTheProgram, true, true},
                      ProgramCase{"PlacingRefused", Stop::programRefused, true, false},
                      ProgramCase{"NewUpdaterCutBeforeTheCommit", Stop::atTheCommit, false, false},
                      ProgramCase{"NewUpdaterCutBeforeThePlacing", Stop::beforeTheProgram, false,
                                  true},
                      ProgramCase{"NewUpdaterPlacingRefused", Stop::programRefused, false, false}),
    testsupport::CaseName());

} // namespace
