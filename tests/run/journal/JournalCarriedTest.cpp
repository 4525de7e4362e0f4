// An installation copied or moved while an update was cut short puts back
// its own files and nothing of another installation; a change the update
// never made is never put back; changes outside the installation are put
// back by the installation folder that made them only.
#include "JournalFixture.h"
#include "testsupport/CaseName.h"
#include "testsupport/TreeCopy.h"
#include "testsupport/TreeSnapshot.h"

#include <cstdio>
#include <optional>
#include <sys/stat.h>

using testsupport::exists;
using testsupport::readFile;
using testsupport::snapshotTree;
using testsupport::treeDifferences;
using testsupport::TreeSnapshot;
using testsupport::writeFile;

namespace {

// Everything, the journal, the temp folder and the log included.
TreeSnapshot everything(const std::string& folder) {
    return snapshotTree(folder, {});
}

enum class Carried { no, copied, moved };

struct CarriedCase {
    const char* name;
    Carried carried;
    bool earlierUpdater;  // the journal is one an earlier updater left
    std::string restored; // what the carried installation's log line says
};

class CarriedInstallation : public JournalFixture,
                            public ::testing::WithParamInterface<CarriedCase> {
protected:
    // The journal an earlier updater leaves (absolute paths, no installation
    // line), as when an update that replaced the updater itself was cut
    // short: a.dll replaced, plugins/p.so added.
    void leaveEarlierJournal() {
        mkdir(journal().c_str(), 0700);
        ASSERT_EQ(link(app("a.dll").c_str(), (journal() + "/kept-1").c_str()), 0);
        writeFile(app("a.dll.new"), "new a.dll");
        ASSERT_EQ(std::rename(app("a.dll.new").c_str(), app("a.dll").c_str()), 0);
        mkdir(app("plugins").c_str(), 0755);
        writeFile(app("plugins/p.so"), "new p.so");
        writeFile(journal() + "/records", "updater-journal 1\nkept 1 " + app("a.dll") +
                                              "\nfolder " + app("plugins") + "\nadded " +
                                              app("plugins/p.so") + "\n");
    }
};

// The installation recovers where it is found: wholly old and saying so, or,
// with an earlier updater's journal naming another folder's files, as it
// is. A copy's recovery leaves the original as it found it, and the
// original then recovers itself.
TEST_P(CarriedInstallation, RecoversItsOwnFilesAndNoOneElses) {
    const CarriedCase& c = GetParam();
    const TreeSnapshot before = snapshotTree(installFolder);
    if (c.earlierUpdater) {
        leaveEarlierJournal();
    } else {
        cutShort(everyKind);
    }
    const TreeSnapshot halfNew = everything(installFolder);
    const TreeSnapshot halfNewFiles =
        snapshotTree(installFolder, {"temp", "NoteError.txt", ".updater-journal"});
    const std::string carried = c.carried == Carried::no ? installFolder : root / "Carried App";
    if (c.carried == Carried::copied) {
        testsupport::copyTree(installFolder, carried);
    } else if (c.carried == Carried::moved) {
        ASSERT_EQ(std::rename(installFolder.c_str(), carried.c_str()), 0);
    }

    EXPECT_TRUE(recoverAt(carried));
    EXPECT_TRUE(recoverAt(carried));

    const bool leftAlone = c.earlierUpdater && c.carried != Carried::no;
    EXPECT_EQ(treeDifferences(leftAlone ? halfNewFiles : before, snapshotTree(carried)), "");
    EXPECT_FALSE(exists(carried + "/.updater-journal"));
    const auto lines = logLinesIn(carried);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(",\"Updater an update cut short was rolled back, the installation is "
                            "as it was before it: " +
                            c.restored + "\""),
              std::string::npos)
        << lines[0];
    if (c.carried == Carried::copied) {
        EXPECT_EQ(treeDifferences(halfNew, everything(installFolder)), "");
        EXPECT_TRUE(recoverAt(installFolder));
        EXPECT_EQ(treeDifferences(before, snapshotTree(installFolder)), "");
        EXPECT_FALSE(exists(journal()));
    }
}

const std::string everyKindRestored = "2 files restored, 2 added files and 2 added folders removed";

INSTANTIATE_TEST_SUITE_P(
    Carried, CarriedInstallation,
    ::testing::Values(CarriedCase{"Copied", Carried::copied, false, everyKindRestored},
                      CarriedCase{"Moved", Carried::moved, false, everyKindRestored},
                      // An earlier updater's journal is finished where it was written; in
                      // a copy its paths name the original's files, none the copy's.
                      CarriedCase{"EarlierUpdatersJournal", Carried::no, true,
                                  "1 file restored, 1 added file and 1 added folder removed"},
                      CarriedCase{
                          "EarlierUpdatersJournalCopied", Carried::copied, true,
                          "0 files restored, 0 added files and 0 added folders removed; 3 changes "
                          "outside this installation were left as they are, for the journal was "
                          "written by an earlier updater in another installation folder"}),
    testsupport::CaseName());

// Changes outside the installation: a file replaced, a folder made and a
// file added in it, and a copy of that file added beside it, next to the
// installation.
const std::string outsideKinds = "MOVE;morvane.exe;APP_PATH\r\n"
                                 "MOVE;b.dll;APP_PATH\\..\\SHARED\r\n"
                                 "MAKEDIR;extra;APP_PATH\\..\\SHARED\r\n"
                                 "MOVE;p.so;APP_PATH\\..\\SHARED\\EXTRA\r\n"
                                 // A second place for the same file: a copy.
                                 "MOVE;p.so;APP_PATH\\..\\SHARED\r\n";

enum class Ending { ownRollback, recoveryInPlace, recoveryInACopy };

struct OutsideCase {
    const char* name;
    Ending ending;
};

class OutsideChange : public JournalFixture, public ::testing::WithParamInterface<OutsideCase> {
protected:
    OutsideChange() : shared(root / "Shared") {
        mkdir(shared.c_str(), 0755);
        installed("../Shared/b.dll", "old shared b", 0644);
    }

    std::string shared;
};

TEST_P(OutsideChange, IsPutBackByTheInstallationThatMadeItOnly) {
    const OutsideCase& c = GetParam();
    const TreeSnapshot before = snapshotTree(installFolder);
    const TreeSnapshot sharedBefore = snapshotTree(shared);
    if (c.ending == Ending::ownRollback) {
        run(outsideKinds + "MOVE;missing.dll;APP_PATH\r\n");
        ASSERT_EQ(logLines().size(), 2u);
        EXPECT_NE(logLines()[1].find("restored as it was: 2 files restored, 2 added files and 1 "
                                     "added folder removed\""),
                  std::string::npos)
            << logLines()[1];
    } else {
        cutShort(outsideKinds);
        EXPECT_EQ(readFile(shared + "/extra/p.so"), "new p.so");
    }
    if (c.ending == Ending::recoveryInACopy) {
        const TreeSnapshot sharedNew = snapshotTree(shared);
        const std::string copy = root / "Copied App";
        testsupport::copyTree(installFolder, copy);
        EXPECT_TRUE(recoverAt(copy));
        EXPECT_EQ(treeDifferences(before, snapshotTree(copy)), "");
        EXPECT_EQ(treeDifferences(sharedNew, snapshotTree(shared)), "");
        ASSERT_EQ(logLinesIn(copy).size(), 1u);
        EXPECT_NE(logLinesIn(copy)[0].find(
                      "the installation is as it was before it: 1 file restored, 0 added files "
                      "and 0 added folders removed; 4 changes outside this installation were "
                      "left as they are, for the journal was written by the installation in " +
                      installFolder + "\""),
                  std::string::npos)
            << logLinesIn(copy)[0];
    }
    if (c.ending != Ending::ownRollback) {
        EXPECT_TRUE(recoverAt(installFolder));
        EXPECT_NE(logLines().back().find("2 files restored, 2 added files and 1 added folder "
                                         "removed\""),
                  std::string::npos)
            << logLines().back();
    }
    EXPECT_EQ(treeDifferences(before, snapshotTree(installFolder)), "");
    EXPECT_EQ(treeDifferences(sharedBefore, snapshotTree(shared)), "");
    EXPECT_FALSE(exists(journal()));
}

INSTANTIATE_TEST_SUITE_P(Endings, OutsideChange,
                         ::testing::Values(OutsideCase{"OwnRollback", Ending::ownRollback},
                                           OutsideCase{"RecoveryInPlace", Ending::recoveryInPlace},
                                           OutsideCase{"RecoveryInACopy", Ending::recoveryInACopy}),
                         testsupport::CaseName());

// A folder the user may only read: the replaced file there cannot be
// linked into the journal, so it is copied, and the copy into place is
// refused. Nothing was changed there, so nothing is put back there, and
// the installation is whole at once, with nothing left for the next start.
struct ReadOnlyCase {
    const char* name;
    bool cut; // the run is cut at that copy, and the next start rolls it back
    std::string logged;
};

class ReadOnlyFolder : public JournalFixture, public ::testing::WithParamInterface<ReadOnlyCase> {
protected:
    ReadOnlyFolder() {
        mkdir(app("sub").c_str(), 0755);
        installed("sub/lib.so", "old lib", 0755);
        writeFile(temp("lib.so"), "new lib");
    }
};

TEST_P(ReadOnlyFolder, RollbackOfAChangeNeverMadeIsWhole) {
    const ReadOnlyCase& c = GetParam();
    const TreeSnapshot before = snapshotTree(installFolder);
    {
        const fileio::ReplacedSystemCalls refusing(readOnlyFolder(app("sub"), c.cut));
        writeFile(temp("updater.ini"), "MOVE;a.dll;APP_PATH\r\nMOVE;lib.so;APP_PATH\\SUB\r\n");
        if (c.cut) {
            EXPECT_THROW(form.processExtract(), Cut);
            EXPECT_TRUE(exists(journal() + "/kept-2"));
            EXPECT_TRUE(recoverAt(installFolder));
        } else {
            EXPECT_FALSE(form.processExtract());
        }
        EXPECT_FALSE(exists(journal()));
        EXPECT_TRUE(recoverAt(installFolder));
    }
    EXPECT_EQ(treeDifferences(before, snapshotTree(installFolder)), "");
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), c.cut ? 1u : 2u);
    EXPECT_NE(lines.back().find(c.logged + "1 file restored, 0 added files and 0 added folders "
                                           "removed\""),
              std::string::npos)
        << lines.back();
    if (!c.cut) {
        EXPECT_NE(lines[0].find("Permission denied"), std::string::npos) << lines[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ReadOnlyFolder,
    ::testing::Values(ReadOnlyCase{"OwnRollback", false,
                                   "the installation was restored as it "
                                   "was: "},
                      ReadOnlyCase{"RecoveryAfterACut", true,
                                   "an update cut short was rolled back, the installation is as "
                                   "it was before it: "}),
    testsupport::CaseName());

} // namespace
