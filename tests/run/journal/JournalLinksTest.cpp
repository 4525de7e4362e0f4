// A journal never reaches outside the installation through a link, nor
// removes a file the update did not put where it lies: a folder of the
// installation made a link since the update was cut short, a journal
// planted in the installation, an added file replaced since. Whether the
// kernel resolves beneath a folder itself (openat2) or the walk stands in
// for it, nothing outside the installation changes, and the recovery says
// what it left.
#include "JournalFixture.h"
#include "journal/JournalRecords.h"
#include "journal/JournalRecovery.h"
#include "platform/files/DiskFileSystem.h"
#include "testsupport/TreeSnapshot.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <vector>

using testsupport::exists;
using testsupport::readFile;
using testsupport::snapshotTree;
using testsupport::treeDifferences;
using testsupport::writeFile;
using updater::LeftChange;
using updater::Recovery;
using Reason = LeftChange::Reason;

namespace {

// What the next start finds.
enum class Found {
    addedBehindALinkedFolder,
    folderBehindALinkedFolder,
    keptBehindALinkedFolder,
    addedReplacedByAnotherFile,
    addedWrittenSince,
    addedReplacedByALink,
    plantedAbsolutePath,
    plantedAbsolutePathWithItsIdentity,
    plantedAbsoluteFolder,
    plantedPathThroughALink,
    plantedKeptFileOverAnAbsolutePath,
    plantedJournalFolderIsALink,
};

struct RefusalCase {
    const char* name;
    Found found;
    Recovery::Outcome outcome;
    // Left, by their paths below the installation (or, from "/", below the
    // folder outside) and why.
    std::vector<std::pair<std::string, Reason>> left;
};

class Refusal : public JournalFixture,
                public ::testing::WithParamInterface<std::tuple<RefusalCase, bool>> {
protected:
    Refusal() : outside(root / "Outside") {
        mkdir(outside.c_str(), 0755);
        mkdir((outside + "/empty").c_str(), 0755);
        for (const char* name : {"b.dll", "keep.txt", "notes.txt"}) {
            writeFile(outside + "/" + name, std::string("the user's ") + name);
        }
        writeFile(temp("keep.txt"), "new keep.txt");
        // What stands outside was there well before any journal began.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    void find(Found found) {
        switch (found) {
        case Found::addedBehindALinkedFolder:
            cutShort("MOVE;b.dll;APP_PATH\\DATA\r\n");
            return linkOut("data");
        case Found::folderBehindALinkedFolder:
            cutShort("MAKEDIR;empty;APP_PATH\\DATA\r\n");
            return linkOut("data");
        case Found::keptBehindALinkedFolder:
            cutShort("MOVE;keep.txt;APP_PATH\\DATA\r\n");
            return linkOut("data");
        case Found::addedReplacedByAnotherFile:
            cutShort("MOVE;b.dll;APP_PATH\r\n");
            writeFile(app("b.dll.other"), "another b.dll");
            ASSERT_EQ(std::rename(app("b.dll.other").c_str(), app("b.dll").c_str()), 0);
            return;
        case Found::addedWrittenSince: {
            cutShort("MOVE;b.dll;APP_PATH\r\n");
            const struct timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, app("b.dll").c_str(), later, 0), 0);
            return;
        }
        case Found::addedReplacedByALink:
            cutShort("MOVE;b.dll;APP_PATH\r\n");
            ASSERT_EQ(std::remove(app("b.dll").c_str()), 0);
            ASSERT_EQ(symlink((outside + "/b.dll").c_str(), app("b.dll").c_str()), 0);
            return;
        default:
            return findPlanted(found);
        }
    }

    // Journals the installation's updates never wrote, naming this
    // installation: what they name outside it was not made by an update.
    void findPlanted(Found found) {
        switch (found) {
        case Found::plantedAbsolutePath:
            return plant("added " + outside + "/notes.txt\n");
        case Found::plantedAbsolutePathWithItsIdentity:
            return plant("added " + outside + "/notes.txt " + identity(outside + "/notes.txt") +
                         "\n");
        case Found::plantedAbsoluteFolder:
            return plant("folder " + outside + "/empty\n");
        case Found::plantedPathThroughALink:
            ASSERT_EQ(symlink(outside.c_str(), app("shared").c_str()), 0);
            return plant("added shared/notes.txt\nfolder shared/empty\n");
        case Found::plantedKeptFileOverAnAbsolutePath:
            plant("kept 1 1 1 1 " + outside + "/keep.txt\n");
            return writeFile(journal() + "/kept-1", "planted");
        case Found::plantedJournalFolderIsALink:
            // It would lead the journal's own removal elsewhere.
            writeFile(outside + "/records", "updater-journal 2\ninstallation /x\n");
            writeFile(outside + "/complete", "");
            ASSERT_EQ(symlink(outside.c_str(), journal().c_str()), 0);
            return;
        default:
            FAIL() << "not a planted journal";
        }
    }

    // A folder of the installation becomes a link to the folder outside,
    // as after a kill a user or another program might make it.
    void linkOut(const std::string& name) {
        ASSERT_EQ(std::rename(app(name).c_str(), app(name + "-moved").c_str()), 0);
        ASSERT_EQ(symlink(outside.c_str(), app(name).c_str()), 0);
    }

    void plant(const std::string& records) {
        mkdir(journal().c_str(), 0700);
        writeFile(journal() + "/records",
                  updater::journalHeader(std::filesystem::canonical(installFolder)) + records);
    }

    // The identity an added record gives the file at path, as a writer that
    // looked at it would put it.
    static std::string identity(const std::string& path) {
        struct stat status {};
        stat(path.c_str(), &status);
        return std::to_string(status.st_dev) + " " + std::to_string(status.st_ino) + " " +
               std::to_string(static_cast<long long>(status.st_mtim.tv_sec) * 1000000000 +
                              status.st_mtim.tv_nsec);
    }

    std::string outside;
};

TEST_P(Refusal, ChangesNothingOutsideTheInstallationAndSaysWhatItLeft) {
    const auto& [c, withOpenat2] = GetParam();
    find(c.found);
    const auto outsideBefore = snapshotTree(outside, {});
    std::optional<fileio::ReplacedSystemCalls> oldKernel;
    if (!withOpenat2) {
        fileio::SystemCalls calls = fileio::realSystemCalls();
        calls.openat2 = [](int, const char*, int, std::uint64_t) {
            errno = ENOSYS;
            return -1;
        };
        oldKernel.emplace(calls);
    }
    platform::DiskFileSystem files;

    const Recovery recovery =
        updater::recoverEarlierUpdate(updater::InstallationPaths(installFolder), files);

    EXPECT_EQ(recovery.outcome, c.outcome) << recovery.report;
    EXPECT_EQ(treeDifferences(outsideBefore, snapshotTree(outside, {})), "");
    std::vector<LeftChange> left;
    for (const auto& [path, reason] : c.left) {
        left.push_back({path.starts_with('/') ? outside + path : app(path), reason});
    }
    EXPECT_EQ(recovery.left, left) << recovery.report;
    // What was left stands where it stood.
    for (const LeftChange& change : left) {
        EXPECT_TRUE(exists(change.path)) << change.path;
    }
    // A change left is no reason to keep the journal; a file kept for a
    // place the undo may not reach is.
    EXPECT_EQ(exists(journal()), c.outcome == Recovery::Outcome::failed);
}

const RefusalCase refusalCases[] = {
    {"AddedBehindALinkedFolder",
     Found::addedBehindALinkedFolder,
     Recovery::Outcome::rolledBack,
     {{"data/b.dll", Reason::link}}},
    {"FolderBehindALinkedFolder",
     Found::folderBehindALinkedFolder,
     Recovery::Outcome::rolledBack,
     {{"data/empty", Reason::link}}},
    // The kept file is the only copy of what was installed: the journal
    // keeps it rather than put it back through the link.
    {"KeptBehindALinkedFolder", Found::keptBehindALinkedFolder, Recovery::Outcome::failed, {}},
    {"AddedReplacedByAnotherFile",
     Found::addedReplacedByAnotherFile,
     Recovery::Outcome::rolledBack,
     {{"b.dll", Reason::otherFile}}},
    {"AddedWrittenSince",
     Found::addedWrittenSince,
     Recovery::Outcome::rolledBack,
     {{"b.dll", Reason::otherFile}}},
    {"AddedReplacedByALink",
     Found::addedReplacedByALink,
     Recovery::Outcome::rolledBack,
     {{"b.dll", Reason::otherFile}}},
    {"PlantedAbsolutePath",
     Found::plantedAbsolutePath,
     Recovery::Outcome::rolledBack,
     {{"/notes.txt", Reason::unproven}}},
    {"PlantedAbsolutePathWithItsIdentity",
     Found::plantedAbsolutePathWithItsIdentity,
     Recovery::Outcome::rolledBack,
     {{"/notes.txt", Reason::unproven}}},
    {"PlantedAbsoluteFolder",
     Found::plantedAbsoluteFolder,
     Recovery::Outcome::rolledBack,
     {{"/empty", Reason::unproven}}},
    {"PlantedPathThroughALink",
     Found::plantedPathThroughALink,
     Recovery::Outcome::rolledBack,
     {{"shared/empty", Reason::link}, {"shared/notes.txt", Reason::link}}},
    {"PlantedKeptFileOverAnAbsolutePath",
     Found::plantedKeptFileOverAnAbsolutePath,
     Recovery::Outcome::failed,
     {}},
    {"PlantedJournalFolderIsALink",
     Found::plantedJournalFolderIsALink,
     Recovery::Outcome::failed,
     {}},
};

INSTANTIATE_TEST_SUITE_P(Journals, Refusal,
                         ::testing::Combine(::testing::ValuesIn(refusalCases), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<RefusalCase, bool>>& param) {
                             return std::string(std::get<0>(param.param).name) +
                                    (std::get<1>(param.param) ? "" : "WithoutOpenat2");
                         });

} // namespace
