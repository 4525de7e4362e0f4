// What the journal promises of each kind of change an update makes: put
// back exactly before the commit, by the update itself or by the next start
// after a kill, and final after it; the updater's own program takes its
// place only then. Where the file system allows no second name, the
// replaced file is kept as a copy with its mode and times.
#include "JournalInstallation.h"
#include "journal/JournalRecovery.h"
#include "platform/Error.h"
#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <utility>

using testsupport::readFile;
using testsupport::treeDifferences;
using updater::recoverEarlierUpdate;
using updater::Recovery;
using updater::UpdateJournal;

namespace {

struct KindCase {
    const char* name;
    Change change;
    // What the rollback counts.
    unsigned restoredFiles;
    unsigned removedFiles;
    unsigned removedFolders;
};

class ChangeOfEachKind : public ::testing::TestWithParam<KindCase> {
protected:
    Installation installation;
    const testsupport::TreeSnapshot before = installation.tree();
};

TEST_P(ChangeOfEachKind, IsPutBackExactlyByTheRollback) {
    const KindCase& c = GetParam();
    UpdateJournal journal(installation.paths().folder());
    installation.change(journal, {c.change});
    ASSERT_TRUE(journal.started());
    EXPECT_EQ(readFile(installation.app("updater")), "old updater");

    const updater::Restoration restoration = journal.rollBack();

    EXPECT_TRUE(restoration.whole()) << restoration.failure;
    EXPECT_EQ(restoration.restoredFiles, c.restoredFiles);
    EXPECT_EQ(restoration.removedFiles, c.removedFiles);
    EXPECT_EQ(restoration.removedFolders, c.removedFolders);
    EXPECT_TRUE(restoration.left.empty());
    EXPECT_EQ(treeDifferences(before, installation.tree()), "");
}

TEST_P(ChangeOfEachKind, CutBeforeTheCommitIsRolledBackAtTheNextStart) {
    {
        UpdateJournal journal(installation.paths().folder());
        installation.change(journal, {GetParam().change});
    }
    const Recovery recovery = recoverEarlierUpdate(installation.paths(), installation.files());

    EXPECT_EQ(recovery.outcome, Recovery::Outcome::rolledBack) << recovery.report;
    EXPECT_TRUE(recovery.left.empty());
    EXPECT_EQ(treeDifferences(before, installation.tree()), "");
}

TEST_P(ChangeOfEachKind, CutAfterTheCommitIsFinishedAtTheNextStart) {
    const testsupport::TreeSnapshot after = Installation::updated({GetParam().change});
    ASSERT_NE(after, before);
    {
        UpdateJournal journal(installation.paths().folder());
        installation.change(journal, {GetParam().change});
        journal.commit();
    }
    // The commit put the updater's own new program in its place.
    EXPECT_EQ(installation.tree().at("updater"), after.at("updater"));

    const Recovery recovery = recoverEarlierUpdate(installation.paths(), installation.files());

    EXPECT_EQ(recovery.outcome, Recovery::Outcome::finished) << recovery.report;
    EXPECT_EQ(treeDifferences(after, installation.tree()), "");
    EXPECT_FALSE(testsupport::exists(installation.paths().tempFolder()));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ChangeOfEachKind,
    ::testing::Values(KindCase{"ReplacedFile", replacedFile, 1, 0, 0},
                      // The link itself comes back, not the file it names.
                      KindCase{"ReplacedLink", replacedLink, 1, 0, 0},
                      KindCase{"AddedFile", addedFile, 0, 1, 0},
                      KindCase{"MadeFolder", madeFolder, 0, 1, 1},
                      // The new program waits in the journal: nothing to put back.
                      KindCase{"OwnProgram", ownProgram, 0, 0, 0}),
    testsupport::CaseName());

// A commit that fails after its rename (the journal's folder cannot be
// synced) is taken back before any change is: a rollback that stops half
// way leaves a journal the next start rolls back too, never finishes.
TEST(FailedCommit, IsTakenBackBeforeTheChanges) {
    Installation installation;
    const testsupport::TreeSnapshot before = installation.tree();
    fileio::SystemCalls calls = fileio::systemCalls();
    bool syncFails = false;
    calls.renameat = [&syncFails, real = calls.renameat](int fromFolder, const char* from,
                                                         int toFolder, const char* to) {
        syncFails = syncFails || std::string_view(to).ends_with("/complete");
        return real(fromFolder, from, toFolder, to);
    };
    calls.fsync = [&syncFails, real = calls.fsync](int fd) {
        if (std::exchange(syncFails, false)) {
            errno = EIO;
            return -1;
        }
        return real(fd);
    };
    const fileio::ReplacedSystemCalls failing(calls);
    UpdateJournal journal(installation.paths().folder());
    installation.change(journal, everyKind);

    EXPECT_THROW(journal.commit(), platform::Error);
    {
        const fileio::ReplacedSystemCalls stuck(keptFilesStuck(EIO));
        EXPECT_FALSE(journal.rollBack().whole());
    }
    const Recovery recovery = recoverEarlierUpdate(installation.paths(), installation.files());

    EXPECT_EQ(recovery.outcome, Recovery::Outcome::rolledBack) << recovery.report;
    EXPECT_EQ(treeDifferences(before, installation.tree()), "");
}

struct SecondNameCase {
    const char* name;
    int linkError; // what a second name in the journal fails with; 0: none
};

class KeptFile : public ::testing::TestWithParam<SecondNameCase> {};

// The replaced file is kept as itself where it can be, else as a copy with
// its bytes, mode and times: the rollback puts back the same file either
// way, and a finished update leaves the same tree.
TEST_P(KeptFile, IsTheFileItselfOrAWholeCopy) {
    const int error = GetParam().linkError;
    Installation installation;
    const testsupport::TreeSnapshot before = installation.tree();
    const testsupport::TreeSnapshot after = Installation::updated(everyKindButTheLink);
    struct stat original {};
    ASSERT_EQ(stat(installation.app("morvane.exe").c_str(), &original), 0);
    {
        std::optional<fileio::ReplacedSystemCalls> refused;
        if (error != 0) {
            refused.emplace(secondNamesRefused(error));
        }
        UpdateJournal journal(installation.paths().folder());
        installation.change(journal, everyKindButTheLink);
        struct stat kept {};
        ASSERT_EQ(stat(installation.journal("kept-1").c_str(), &kept), 0);
        EXPECT_EQ(kept.st_ino == original.st_ino, error == 0);

        EXPECT_TRUE(journal.rollBack().whole());
        EXPECT_EQ(treeDifferences(before, installation.tree()), "");
    }
    {
        std::optional<fileio::ReplacedSystemCalls> refused;
        if (error != 0) {
            refused.emplace(secondNamesRefused(error));
        }
        installation.update(everyKindButTheLink);
    }
    EXPECT_EQ(treeDifferences(after, installation.tree()), "");
}

// A symbolic link has no copy to keep: without a second name it is not
// replaced, and the update is put back.
TEST(KeptFile, LinkWithoutASecondNameIsNotReplaced) {
    Installation installation;
    const testsupport::TreeSnapshot before = installation.tree();
    const fileio::ReplacedSystemCalls refused(secondNamesRefused(EPERM));
    UpdateJournal journal(installation.paths().folder());

    EXPECT_THROW(installation.change(journal, {replacedFile, replacedLink}), platform::Error);

    EXPECT_TRUE(journal.rollBack().whole());
    EXPECT_EQ(treeDifferences(before, installation.tree()), "");
}

INSTANTIATE_TEST_SUITE_P(FileSystems, KeptFile,
                         ::testing::Values(SecondNameCase{"SecondNames", 0},
                                           SecondNameCase{"AcrossFileSystems", EXDEV},
                                           SecondNameCase{"NoHardLinks", EPERM}),
                         testsupport::CaseName());

} // namespace
