// The journal of the instruction file's changes: a failed run puts the
// installation back exactly, a run cut short is finished at the next start,
// and the records read back as they were written.
#include "app/JournalRecords.h"
#include "fixtures/InstructionFixture.h"
#include "platform/Error.h"
#include "platform/files/FolderLock.h"
#include "testsupport/CaseName.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TreeSnapshot.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>

using updater::frmUpdater;
using updater::journalHeader;
using updater::JournalRecord;
using updater::readRecords;
using updater::recordLine;
using updater::UpdaterSettings;

using testsupport::exists;
using testsupport::readFile;
using testsupport::snapshotTree;
using testsupport::treeDifferences;
using testsupport::writeFile;

namespace {

// Thrown from the file seam: the run stops where it is, with nothing of its
// own handling run, as a kill would stop it.
struct Cut {};

bool inJournal(const char* path) {
    return std::strstr(path, "/.updater-journal/") != nullptr;
}

// The system's calls, but a second name in the journal is refused the way a
// file system without hard links refuses it.
fileio::SystemCalls withoutSecondNames() {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const auto real = calls.linkat;
    calls.linkat = [real](int fromFolder, const char* from, int toFolder, const char* to,
                          int flags) {
        if (inJournal(to) && std::strncmp(from, "/proc/", 6) != 0) {
            errno = EPERM;
            return -1;
        }
        return real(fromFolder, from, toFolder, to, flags);
    };
    return calls;
}

// The system's calls, but no kept file can be renamed back.
fileio::SystemCalls keptFilesStuck() {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const auto real = calls.renameat;
    calls.renameat = [real](int fromFolder, const char* from, int toFolder, const char* to) {
        if (std::strstr(from, "/.updater-journal/kept-") != nullptr) {
            errno = EIO;
            return -1;
        }
        return real(fromFolder, from, toFolder, to);
    };
    return calls;
}

// The system's calls, but the commit point is never reached.
fileio::SystemCalls cutAtTheCommit() {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const auto real = calls.renameat;
    calls.renameat = [real](int fromFolder, const char* from, int toFolder, const char* to) {
        if (std::strstr(to, "/.updater-journal/complete") != nullptr) {
            throw Cut{};
        }
        return real(fromFolder, from, toFolder, to);
    };
    return calls;
}

// An installation with a package unpacked into its temp folder. Installed
// files carry a modification time of long ago, so that a copy in their
// place would show.
class JournalFixture : public InstructionFixture {
protected:
    JournalFixture() {
        installed("morvane.exe", "old application", 0755);
        installed("a.dll", "old a", 0640);
        mkdir(app("data").c_str(), 0750);
        installed("data/keep.txt", "kept", 0600);
        symlink("morvane.exe", app("current").c_str());
        for (const char* name : {"morvane.exe", "a.dll", "b.dll", "p.so", "current"}) {
            writeFile(temp(name), std::string("new ") + name);
        }
    }

    void installed(const std::string& name, const std::string& content, mode_t mode) {
        writeFile(app(name), content);
        chmod(app(name).c_str(), mode);
        const struct timespec longAgo[2] = {{1000000000, 0}, {1000000000, 0}};
        utimensat(AT_FDCWD, app(name).c_str(), longAgo, 0);
    }

    std::string journal() const { return app(".updater-journal"); }
};

const std::string everyKind = "MOVE;morvane.exe;APP_PATH\r\n"
                              "MOVE;a.dll;APP_PATH\r\n"
                              "MAKEDIR;plugins;APP_PATH\r\n"
                              "MAKEDIR;deep;APP_PATH\\PLUGINS\r\n"
                              "MOVE;p.so;APP_PATH\\PLUGINS\\DEEP\r\n"
                              "MOVE;b.dll;APP_PATH\\DATA\r\n";

struct FailedRunCase {
    const char* name;
    std::string instructions;
    std::string failure;  // part of the first log line
    std::string restored; // what the second says was undone; empty: not checked
    enum class Disk { plain, noSecondNames, fillsUp } disk = Disk::plain;
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
                      "3 files restored, 1 added file and 0 added folders removed\""},
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
        FailedRunCase{"DiskFillsUp", everyKind, "No space left on device",
                      "2 files restored, 1 added file and 2 added folders removed\"",
                      FailedRunCase::Disk::fillsUp}),
    testsupport::CaseName());

// A run cut short, as by a kill, is finished by the next start before the
// version check: rolled back before the commit point, completed after it.
TEST_F(JournalFixture, RunCutShortIsRolledBackBeforeTheCommitAndFinishedAfterIt) {
    const auto before = snapshotTree(installFolder);
    writeFile(temp("updater.ini"), everyKind);
    {
        const fileio::ReplacedSystemCalls cut(cutAtTheCommit());
        EXPECT_THROW(form.processExtract(), Cut);
    }
    EXPECT_TRUE(exists(journal() + "/records"));
    EXPECT_EQ(readFile(app("morvane.exe")), "new morvane.exe");

    EXPECT_TRUE(form.finishEarlierUpdate());
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
    EXPECT_TRUE(form.finishEarlierUpdate());
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

    EXPECT_TRUE(form.finishEarlierUpdate());
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
        EXPECT_TRUE(form.finishEarlierUpdate());
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

struct RecordsCase {
    const char* name;
    std::string text;
    std::size_t records; // read back; npos: refused
};

class JournalText : public ::testing::TestWithParam<RecordsCase> {};

TEST_P(JournalText, DropsOnlyALastLineCutShort) {
    const RecordsCase& c = GetParam();
    if (c.records == std::string::npos) {
        EXPECT_THROW(readRecords(c.text, "records"), platform::Error);
    } else {
        EXPECT_EQ(readRecords(c.text, "records").size(), c.records);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JournalText,
    ::testing::Values(
        RecordsCase{"Empty", "", 0}, RecordsCase{"HeaderCutShort", "updater-jou", 0},
        RecordsCase{"HeaderOnly", "updater-journal 1\n", 0},
        RecordsCase{"LastRecordCutShort", "updater-journal 1\nadded /a\nkept 2 /b", 1},
        RecordsCase{"ZerosAfterARecord", "updater-journal 1\nadded /a\n" + std::string(8, '\0'), 1},
        RecordsCase{"OtherHeader", "updater-journal 2\nadded /a\n", std::string::npos},
        RecordsCase{"UnknownWord", "updater-journal 1\nmoved /a\n", std::string::npos},
        RecordsCase{"RelativePath", "updater-journal 1\nadded a\n", std::string::npos},
        RecordsCase{"BadNumber", "updater-journal 1\nkept x /a\n", std::string::npos},
        RecordsCase{"BadEscape", "updater-journal 1\nadded /a%41\n", std::string::npos}),
    testsupport::CaseName());

TEST(JournalRecords, EveryPathAnInstructionFileCanNameReadsBackAsWritten) {
    std::string text = journalHeader();
    std::vector<JournalRecord> written;
    for (const std::string& path : {std::string("/a b/%25/c"), std::string("/line\nbreak\r"),
                                    std::string("/\xc3\xa9t\xc3\xa9;x"), std::string("/100%")}) {
        written.push_back({JournalRecord::Kind::kept, path, 7});
        written.push_back({JournalRecord::Kind::added, path});
        written.push_back({JournalRecord::Kind::folder, path});
    }
    for (const JournalRecord& record : written) {
        text += recordLine(record);
    }
    EXPECT_EQ(readRecords(text, "records"), written);
}

} // namespace
