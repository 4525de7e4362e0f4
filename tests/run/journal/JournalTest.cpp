// The journal of the instruction file's changes: a failed run puts the
// installation back exactly, and a run cut short is finished at the next
// start.
#include "JournalFixture.h"
#include "journal/JournalRecovery.h"
#include "platform/files/DiskFileSystem.h"
#include "platform/files/FolderLock.h"
#include "testsupport/CaseName.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TreeSnapshot.h"

#include <cerrno>
#include <optional>
#include <sys/stat.h>

using updater::frmUpdater;
using updater::recoverEarlierUpdate;
using updater::recoverLockedInstallation;
using updater::Recovery;
using updater::UpdaterSettings;

using testsupport::exists;
using testsupport::readFile;
using testsupport::snapshotTree;
using testsupport::treeDifferences;
using testsupport::writeFile;

namespace {

struct FailedRunCase {
    const char* name;
    std::string instructions;
    std::string failure;  // part of the first log line
    std::string restored; // what the second says was undone; empty: not checked
    enum class Disk { plain, noSecondNames, fillsUp, keptElsewhere } disk = Disk::plain;
};

class FailedRun : public JournalFixture, public ::testing::WithParamInterface<FailedRunCase> {};

TEST_P(FailedRun, PutsTheInstallationBackExactlyBeforeItReports) {
    const FailedRunCase& c = GetParam();
    const auto before = snapshotTree(installFolder);
    {
        std::optional<fileio::ReplacedSystemCalls> noLinks;
        std::optional<testsupport::FailingWrites> fullDisk;
        if (c.disk == FailedRunCase::Disk::noSecondNames) {
            noLinks.emplace(withoutSecondNames());
        } else if (c.disk == FailedRunCase::Disk::keptElsewhere) {
            noLinks.emplace(keptFilesStuck(EXDEV));
        } else if (c.disk == FailedRunCase::Disk::fillsUp) {
            // The last copy finds the disk full.
            fullDisk.emplace(app("data"), ENOSPC);
        }
        run(c.instructions);
    }

    EXPECT_EQ(treeDifferences(before, snapshotTree(installFolder)), "");
    EXPECT_FALSE(exists(journal()));
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(",\"Updater "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(c.failure), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(",\"Updater the installation was restored as it was: " + c.restored),
              std::string::npos)
        << lines[1];
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    EXPECT_EQ(ui.messageBoxes()[0].prompt.find("Error Contact Administrator."), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FailedRun,
    ::testing::Values(
        FailedRunCase{"EveryKindOfChange", everyKind + "MOVE;missing.dll;APP_PATH\r\n",
                      "File not found",
                      "2 files restored, 2 added files and 2 added folders removed\""},
        // A file replaced twice, and an added file replaced, come back in
        // reverse order.
        FailedRunCase{"SameTargetsAgain",
                      "MOVE;*.dll;APP_PATH\r\nMOVE;a.dll;APP_PATH\r\nMOVE;b.dll;APP_PATH\r\n"
                      "MAKEDIR;x;APP_PATH\\nowhere\r\n",
                      "Path not found",
                      // The second copies find the very files in place.
                      "1 file restored, 1 added file and 0 added folders removed\""},
        // A folder that could not be made where a file is: the file stays.
        FailedRunCase{
            "FolderWhereAFileIs", "MOVE;a.dll;APP_PATH\r\nMAKEDIR;morvane.exe;APP_PATH\r\n",
            "File already exists", "1 file restored, 0 added files and 0 added folders removed\""},
        // A symbolic link replaced by a file comes back as the link itself.
        FailedRunCase{"LinkReplaced", "MOVE;current;APP_PATH\r\nNOTE;x\r\n",
                      "Subscript out of range",
                      "1 file restored, 0 added files and 0 added folders removed\""},
        // Where no second name can be made, the replaced file is copied
        // aside with its mode and times.
        FailedRunCase{"FileSystemWithoutHardLinks", everyKind + "MOVE;missing.dll;APP_PATH\r\n",
                      "File not found",
                      "2 files restored, 2 added files and 2 added folders removed\"",
                      FailedRunCase::Disk::noSecondNames},
        // Kept files that cannot be renamed back are copied back, with their
        // mode and times, beside their place.
        FailedRunCase{"KeptFilesOnAnotherFileSystem", everyKind + "MOVE;missing.dll;APP_PATH\r\n",
                      "File not found",
                      "2 files restored, 2 added files and 2 added folders removed\"",
                      FailedRunCase::Disk::keptElsewhere},
        // Files from temp are installed as they lie there; the last line's
        // source, an installed file, is written, and the disk is full.
        FailedRunCase{"DiskFillsUp", everyKind + "MOVE;..\\a.dll;APP_PATH\\DATA\r\n",
                      "No space left on device",
                      "2 files restored, 2 added files and 2 added folders removed\"",
                      FailedRunCase::Disk::fillsUp}),
    testsupport::CaseName());

// A run cut short, as by a kill, is finished by the next start before the
// version check: rolled back before the commit point, completed after it.
TEST_F(JournalFixture, RunCutShortIsRolledBackBeforeTheCommitAndFinishedAfterIt) {
    const auto before = snapshotTree(installFolder);
    cutShort(everyKind);
    EXPECT_TRUE(exists(journal() + "/records"));
    EXPECT_EQ(readFile(app("morvane.exe")), "new morvane.exe");

    EXPECT_TRUE(recoverAt(installFolder));
    EXPECT_EQ(treeDifferences(before, snapshotTree(installFolder)), "");
    EXPECT_FALSE(exists(journal()));
    ASSERT_EQ(logLines().size(), 1u);
    EXPECT_NE(logLines()[0].find(",\"Updater an update cut short was rolled back, the "
                                 "installation is as it was before it: 2 files restored, 2 "
                                 "added files and 2 added folders removed\""),
              std::string::npos)
        << logLines()[0];

    // Cut right after the commit point: the update is installed.
    EXPECT_TRUE(form.processExtract());
    EXPECT_TRUE(exists(journal() + "/complete"));
    EXPECT_TRUE(recoverAt(installFolder));
    EXPECT_FALSE(exists(journal()));
    EXPECT_FALSE(exists(app("temp")));
    EXPECT_EQ(readFile(app("plugins/deep/p.so")), "new p.so");
    EXPECT_EQ(readFile(app("a.dll")), "new a.dll");
    ASSERT_EQ(logLines().size(), 2u);
    EXPECT_NE(logLines()[1].find(",\"Updater an update cut short after it was complete was "
                                 "finished: 2 kept files cleaned up\""),
              std::string::npos)
        << logLines()[1];
    EXPECT_TRUE(ui.messageBoxes().empty());
}

// A caller that holds the installation's lock already (a run takes it
// before anything else) finishes the journal under it; the recovery that
// takes the lock itself finds it busy then, and leaves the journal alone.
TEST_F(JournalFixture, RecoveryUnderTheCallersOwnLockFinishesTheJournal) {
    const auto before = snapshotTree(installFolder);
    cutShort(everyKind);
    const auto lock = platform::FolderLock::takeIfFree(installFolder, "test");
    ASSERT_TRUE(lock);
    const updater::InstallationPaths paths(installFolder);
    platform::DiskFileSystem files;

    EXPECT_EQ(recoverEarlierUpdate(paths, files).outcome, Recovery::Outcome::nothing);
    EXPECT_TRUE(exists(journal() + "/records"));
    const Recovery recovery = recoverLockedInstallation(paths, files);

    EXPECT_EQ(recovery.outcome, Recovery::Outcome::rolledBack) << recovery.report;
    EXPECT_EQ(treeDifferences(before, snapshotTree(installFolder)), "");
    EXPECT_FALSE(exists(journal()));
}

// What a program started by EXEC did is not the update's to undo: a folder
// the update made and the program wrote into stays, with the program's file.
TEST_F(JournalFixture, FolderAStartedProgramWroteIntoIsLeftWithItsFiles) {
    services.recordingShell.whenOpened = [&](const std::string&) {
        writeFile(app("plugins/settings.ini"), "written by the tool");
    };
    run("MAKEDIR;plugins;APP_PATH\r\nMOVE;morvane.exe;APP_PATH\r\nEXEC;APP_PATH;morvane.exe\r\n"
        "MOVE;missing.dll;APP_PATH\r\n");

    EXPECT_EQ(readFile(app("morvane.exe")), "old application");
    EXPECT_EQ(readFile(app("plugins/settings.ini")), "written by the tool");
    ASSERT_EQ(logLines().size(), 2u);
    EXPECT_NE(logLines()[1].find("restored as it was: 1 file restored, 0 added files and 0 added "
                                 "folders removed; the folder " +
                                 app("plugins") +
                                 " that the update made was left, for it holds files the "
                                 "update did not bring\""),
              std::string::npos)
        << logLines()[1];
}

// When a replaced file cannot be put back, the log says what and where the
// kept files are, the journal stays, and the next start finishes the job.
TEST_F(JournalFixture, RestoreThatCannotFinishIsFinishedAtTheNextStart) {
    const auto before = snapshotTree(installFolder);
    {
        const fileio::ReplacedSystemCalls stuck(keptFilesStuck());
        run(everyKind + "MOVE;missing.dll;APP_PATH\r\n");
    }
    ASSERT_EQ(logLines().size(), 2u);
    EXPECT_NE(logLines()[1].find("the installation could not be wholly restored: could not put "
                                 "back " +
                                 app("a.dll") +
                                 ": Input/output error; the files the update "
                                 "replaced are kept in " +
                                 journal() + ", and the next start finishes the restore\""),
              std::string::npos)
        << logLines()[1];
    EXPECT_TRUE(exists(journal() + "/records"));

    EXPECT_TRUE(recoverAt(installFolder));
    EXPECT_EQ(treeDifferences(before, snapshotTree(installFolder)), "");
    EXPECT_FALSE(exists(journal()));
}

// A journal the start cannot finish stops the run before the version check,
// with the window open; one another running update holds is left alone.
TEST_F(JournalFixture, JournalThatCannotBeFinishedStopsTheRunBeforeTheCheck) {
    mkdir(journal().c_str(), 0700);
    writeFile(journal() + "/records", "updater-journal 1\nreplaced morvane.exe\n");
    {
        const auto other = platform::FolderLock::takeIfFree(installFolder, "test");
        ASSERT_TRUE(other);
        EXPECT_TRUE(recoverAt(installFolder));
        EXPECT_TRUE(logLines().empty());
    }

    frmUpdater window(ui, ui, services,
                      UpdaterSettings{installFolder,
                                      "127.0.0.1:" + std::to_string(testsupport::refusedPort()),
                                      "packages.invalid", ""});
    window.cmdDownload_Click();

    EXPECT_TRUE(ui.cmdDownload().isEnabled());
    ASSERT_EQ(ui.messageBoxes().size(), 1u); // no "Unable to reach server"
    EXPECT_NE(ui.messageBoxes()[0].prompt.find("an update cut short could not be finished: "
                                               "Path/File access error: " +
                                               journal() + "/records holds a damaged record"),
              std::string::npos)
        << ui.messageBoxes()[0].prompt;
    EXPECT_EQ(readFile(journal() + "/records"), "updater-journal 1\nreplaced morvane.exe\n");
}

} // namespace
