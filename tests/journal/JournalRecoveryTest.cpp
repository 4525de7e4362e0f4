// The next start after an update cut short at any step of writing its
// journal: the installation ends exactly as it was before the update or
// exactly as the update leaves it, never between. A kept file that cannot
// be put back keeps the journal for a later start; a journal another
// running update holds is left alone.
#include "journal/JournalRecovery.h"
#include "JournalInstallation.h"
#include "platform/files/FolderLock.h"
#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <optional>
#include <string_view>

using Kind = SeamCall::Kind;
using testsupport::exists;
using testsupport::treeDifferences;
using updater::LeftChange;
using updater::recoverEarlierUpdate;
using updater::Recovery;
using updater::UpdateJournal;

namespace {

bool endsWith(const std::string& path, std::string_view end) {
    return std::string_view(path).ends_with(end);
}

// The whole update cut where cutsAt says, as a kill would cut it: whatever
// the update holds open is dropped, and nothing of its own handling runs.
// Whether a cut fell.
bool updateCut(Installation& installation, const std::function<bool(const SeamCall&)>& cutsAt) {
    const fileio::ReplacedSystemCalls cutting(cutWhere(cutsAt));
    try {
        installation.update(everyKind);
    } catch (const Cut&) {
        return true;
    }
    return false;
}

struct CutCase {
    const char* name;
    std::function<bool(const SeamCall&)> at;
    Recovery::Outcome outcome;
};

class CutUpdate : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutUpdate, EndsExactlyOldOrExactlyNewAtTheNextStart) {
    const CutCase& c = GetParam();
    Installation installation;
    const testsupport::TreeSnapshot before = installation.tree();
    const testsupport::TreeSnapshot after = Installation::updated(everyKind);
    ASSERT_TRUE(updateCut(installation, c.at));

    const Recovery recovery = recoverEarlierUpdate(installation.paths(), installation.files());

    EXPECT_EQ(recovery.outcome, c.outcome) << recovery.report;
    EXPECT_TRUE(recovery.left.empty());
    const bool finished = c.outcome == Recovery::Outcome::finished;
    EXPECT_EQ(treeDifferences(finished ? after : before, installation.tree()), "");
    // Nothing is left to do: the start after is a start like any other.
    EXPECT_EQ(recoverEarlierUpdate(installation.paths(), installation.files()).outcome,
              Recovery::Outcome::nothing);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CutUpdate,
    ::testing::Values(
        CutCase{"AtTheRecordsFile",
                [](const SeamCall& call) {
                    return call.kind == Kind::open && endsWith(call.path, "/records");
                },
                Recovery::Outcome::rolledBack},
        // The header is written, the first change's record is not.
        CutCase{"AtTheFirstRecord",
                [writes = 0](const SeamCall& call) mutable {
                    return call.kind == Kind::write && endsWith(call.path, "/records") &&
                           ++writes == 2;
                },
                Recovery::Outcome::rolledBack},
        // Recorded and durable, not yet changed: the file is still the one
        // that was kept.
        CutCase{"BetweenARecordAndItsChange",
                [](const SeamCall& call) {
                    return call.kind == Kind::rename && endsWith(call.path, "/Morvane App/current");
                },
                Recovery::Outcome::rolledBack},
        CutCase{"AtTheKeptFilesSecondName",
                [](const SeamCall& call) {
                    return call.kind == Kind::link && endsWith(call.path, "/kept-2");
                },
                Recovery::Outcome::rolledBack},
        CutCase{"AtTheFolder",
                [](const SeamCall& call) {
                    return call.kind == Kind::makeFolder && endsWith(call.path, "/plugins");
                },
                Recovery::Outcome::rolledBack},
        CutCase{"AtTheNewProgram",
                [](const SeamCall& call) {
                    return call.kind == Kind::rename && endsWith(call.path, "/program");
                },
                Recovery::Outcome::rolledBack},
        CutCase{"AtTheCommitsRename",
                [](const SeamCall& call) {
                    return call.kind == Kind::rename && endsWith(call.path, "/complete");
                },
                Recovery::Outcome::rolledBack},
        CutCase{"AtTheProgramsPlace",
                [](const SeamCall& call) {
                    return call.kind == Kind::rename && endsWith(call.from, "/program");
                },
                Recovery::Outcome::finished},
        CutCase{"AfterTheCommitBeforeTheKeptFilesGo",
                [](const SeamCall& call) {
                    return call.kind == Kind::remove && endsWith(call.path, "/kept-1");
                },
                Recovery::Outcome::finished},
        CutCase{"WhileTheJournalGoes",
                [](const SeamCall& call) {
                    return call.kind == Kind::remove && endsWith(call.path, "/complete");
                },
                Recovery::Outcome::finished}),
    testsupport::CaseName());

// Every call of the file seam the update makes, cut in turn: before the
// commit's rename is made the next start finds the installation as it was,
// after it as the update leaves it.
TEST(CutAnywhere, EndsExactlyOldBeforeTheCommitAndExactlyNewAfterIt) {
    const testsupport::TreeSnapshot after = Installation::updated(everyKind);
    std::size_t calls = 0;
    {
        Installation counted;
        ASSERT_FALSE(updateCut(counted, [&](const SeamCall&) {
            ++calls;
            return false;
        }));
    }
    ASSERT_GT(calls, 40u);
    for (std::size_t cut = 1; cut <= calls; ++cut) {
        SCOPED_TRACE("cut at call " + std::to_string(cut));
        Installation installation;
        const testsupport::TreeSnapshot before = installation.tree();
        std::size_t call = 0;
        bool committed = false;
        ASSERT_TRUE(updateCut(installation, [&](const SeamCall& made) {
            if (++call == cut) {
                return true;
            }
            committed =
                committed || (made.kind == Kind::rename && endsWith(made.path, "/complete"));
            return false;
        }));

        const Recovery recovery = recoverEarlierUpdate(installation.paths(), installation.files());

        EXPECT_NE(recovery.outcome, Recovery::Outcome::failed) << recovery.report;
        EXPECT_EQ(treeDifferences(committed ? after : before, installation.tree()), "");
    }
}

struct StuckCase {
    const char* name;
    int renameError; // what renaming a kept file back fails with
    Recovery::Outcome outcome;
};

class StuckKeptFile : public ::testing::TestWithParam<StuckCase> {};

// A kept file that cannot be renamed back is copied back when it lies on
// another file system; else nothing is given up: the journal stays, with
// what was done so far and what was left, for a later start to finish.
TEST_P(StuckKeptFile, IsCopiedBackOrKeepsTheJournal) {
    const StuckCase& c = GetParam();
    Installation installation;
    testsupport::TreeSnapshot before = installation.tree();
    {
        UpdateJournal journal(installation.paths().folder());
        installation.change(journal, everyKindButTheLink);
    }
    // Written since by someone else: not the update's to remove.
    testsupport::writeFile(installation.app("b.dll"), "the user's own");
    const std::vector<LeftChange> left = {
        {installation.app("b.dll"), LeftChange::Reason::otherFile}};
    std::optional<Recovery> recovery;
    {
        const fileio::ReplacedSystemCalls stuck(keptFilesStuck(c.renameError));
        recovery = recoverEarlierUpdate(installation.paths(), installation.files());
    }

    EXPECT_EQ(recovery->outcome, c.outcome) << recovery->report;
    EXPECT_EQ(recovery->left, left);
    if (c.outcome == Recovery::Outcome::failed) {
        EXPECT_TRUE(exists(installation.journal("records")));
        EXPECT_TRUE(exists(installation.journal("kept-1")));
        EXPECT_FALSE(exists(installation.app("plugins")));
        recovery = recoverEarlierUpdate(installation.paths(), installation.files());
        EXPECT_EQ(recovery->outcome, Recovery::Outcome::rolledBack) << recovery->report;
        EXPECT_EQ(recovery->left, left);
    }
    testsupport::TreeSnapshot now = installation.tree();
    EXPECT_EQ(now.at("b.dll").content, "the user's own");
    now.erase("b.dll");
    EXPECT_EQ(treeDifferences(before, now), "");
}

INSTANTIATE_TEST_SUITE_P(Renames, StuckKeptFile,
                         ::testing::Values(StuckCase{"FailingDisk", EIO, Recovery::Outcome::failed},
                                           StuckCase{"JournalOnAnotherFileSystem", EXDEV,
                                                     Recovery::Outcome::rolledBack}),
                         testsupport::CaseName());

// The update's own rollback stops at the same place and leaves the journal
// for the next start.
TEST(StuckKeptFile, StopsTheUpdatesOwnRollbackWithTheJournalKept) {
    Installation installation;
    const testsupport::TreeSnapshot before = installation.tree();
    {
        UpdateJournal journal(installation.paths().folder());
        installation.change(journal, everyKind);
        const fileio::ReplacedSystemCalls stuck(keptFilesStuck(EIO));
        EXPECT_FALSE(journal.rollBack().whole());
    }
    EXPECT_TRUE(exists(installation.journal("records")));

    const Recovery recovery = recoverEarlierUpdate(installation.paths(), installation.files());

    EXPECT_EQ(recovery.outcome, Recovery::Outcome::rolledBack) << recovery.report;
    EXPECT_EQ(treeDifferences(before, installation.tree()), "");
}

// Another running update's journal is its own: the start that finds it
// locked leaves it alone, and the one that holds the lock finishes it.
TEST(LockedInstallation, IsLeftAloneUnlessTheCallerHoldsTheLock) {
    Installation installation;
    const testsupport::TreeSnapshot before = installation.tree();
    {
        UpdateJournal journal(installation.paths().folder());
        installation.change(journal, everyKind);
    }
    const testsupport::TreeSnapshot cut = installation.tree();
    const auto lock = platform::FolderLock::takeIfFree(installation.paths().folder(), "test");
    ASSERT_TRUE(lock);

    EXPECT_EQ(recoverEarlierUpdate(installation.paths(), installation.files()).outcome,
              Recovery::Outcome::nothing);
    EXPECT_EQ(treeDifferences(cut, installation.tree()), "");

    const Recovery recovery =
        updater::recoverLockedInstallation(installation.paths(), installation.files());
    EXPECT_EQ(recovery.outcome, Recovery::Outcome::rolledBack) << recovery.report;
    EXPECT_EQ(treeDifferences(before, installation.tree()), "");
}

} // namespace
