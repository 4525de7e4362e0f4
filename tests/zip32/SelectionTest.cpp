// Which files and folders a call stores, and under which names: recursion,
// hidden files, folder entries, junked and short names, patterns, letter
// case, absolute names, date filters and links, against one real tree.
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "zip32test/ZipHarness.h"

#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

namespace zip32test {
namespace {

using Entries = std::map<std::string, std::string>;

constexpr std::time_t year2020 = 1577836800; // 2020-01-01 UTC
constexpr std::time_t year2022 = 1640995200; // 2022-01-01 UTC

// The tree every case reads: root/ holds it; outside/ lies beside it.
void writeSelectionTree(const testsupport::TempDir& temp) {
    unzip32test::writeTree(temp / "root", {{"a.txt", "a"},
                                           {"old.txt", "old"},
                                           {".hidden", "h"},
                                           {"docs/guide.txt", "guide"},
                                           {"docs/.secret", "s"},
                                           {"docs/Long File Name.text", "long"},
                                           {"docs/deep/n.txt", "n"},
                                           {"empty", "<folder>"}});
    unzip32test::writeTree(temp / "outside", {{"far.txt", "far"}});
    setModified(temp / "root/old.txt", year2020);
    setModified(temp / "root/a.txt", year2022 + 86400 * 30);
    ::symlink("a.txt", (temp / "root/link-to-a").c_str());
    ::symlink("docs", (temp / "root/link-to-docs").c_str());
    ::symlink("missing", (temp / "root/dangling").c_str());
}

struct SelectionCase {
    const char* name;
    std::function<void(ZpOptions&)> options;
    std::vector<std::string> names;
    Entries expected;
};

const SelectionCase selectionCases[] = {
    {"FolderWithoutRecurseIsItsOwnEntry",
     [](ZpOptions&) {},
     {"docs", "a.txt"},
     {{"docs/", "<folder>"}, {"a.txt", "a"}}},
    {"RecurseBringsTheTreeWithoutHiddenNames",
     [](ZpOptions& o) { o.recurseFolders = 1; },
     {"docs"},
     {{"docs/", "<folder>"},
      {"docs/guide.txt", "guide"},
      {"docs/Long File Name.text", "long"},
      {"docs/deep/", "<folder>"},
      {"docs/deep/n.txt", "n"}}},
    {"HiddenNamesWithSystemFiles",
     [](ZpOptions& o) { o.recurseFolders = 1, o.includeSystemAndHidden = 1; },
     {"docs/deep", "docs/.s*", ".hidden"},
     {{"docs/deep/", "<folder>"},
      {"docs/deep/n.txt", "n"},
      {"docs/.secret", "s"},
      {".hidden", "h"}}},
    {"NamedHiddenFileIsTaken", [](ZpOptions&) {}, {".hidden"}, {{".hidden", "h"}}},
    {"NoDirectoryEntries",
     [](ZpOptions& o) { o.recurseFolders = 1, o.noDirectoryEntries = 1; },
     {"docs/deep", "empty"},
     {{"docs/deep/n.txt", "n"}}},
    {"JunkFolderNames",
     [](ZpOptions& o) { o.recurseFolders = 1, o.junkFolderNames = 1; },
     {"docs/deep", "old.txt"},
     {{"n.txt", "n"}, {"old.txt", "old"}}},
    {"ForceShortNames",
     [](ZpOptions& o) { o.forceShortNames = 1; },
     {"docs/Long File Name.text", "docs/guide.txt"},
     {{"DOCS/LONGFILE.TEX", "long"}, {"DOCS/GUIDE.TXT", "guide"}}},
    {"PatternsSkipHiddenNames",
     [](ZpOptions&) {},
     {"*.txt", "d?cs/*/n.*"},
     {{"a.txt", "a"}, {"old.txt", "old"}, {"docs/deep/n.txt", "n"}}},
    {"NamesIgnoreLetterCaseAndBackslashes",
     [](ZpOptions&) {},
     {"DOCS\\GUIDE.TXT", "A.Txt"},
     {{"docs/guide.txt", "guide"}, {"a.txt", "a"}}},
    {"DotDotStepsBackThroughTheRootsOwnSpelling",
     [](ZpOptions&) {},
     {"docs/../A.TXT", "DOCS/DEEP/../../old.txt", "../ROOT/docs/guide.txt"},
     {{"a.txt", "a"}, {"old.txt", "old"}, {"docs/guide.txt", "guide"}}},
    {"IncludeByDateKeepsFilesFromThatDayOn",
     [](ZpOptions& o) { o.includeByDate = 1, o.dateText = "2022-01-02"; },
     {"*.txt"},
     {{"a.txt", "a"}}},
    {"ExcludeByDateKeepsOlderFiles",
     [](ZpOptions& o) { o.excludeByDate = 1, o.dateText = "01022022"; },
     {"*.txt"},
     {{"old.txt", "old"}}},
    {"LinkToFileIsStoredAsContentLinksToFoldersAreNotFollowed",
     [](ZpOptions& o) { o.recurseFolders = 1; },
     {"link-to-a", "link-to-docs", "dangling"},
     {{"link-to-a", "a"}}},
};

class Selecting : public testing::TestWithParam<SelectionCase> {};

TEST_P(Selecting, StoresWhatTheOptionsSelect) {
    const testsupport::TempDir temp;
    writeSelectionTree(temp);
    ZipCall call;
    GetParam().options(call.options);
    const std::string archive = temp / "out.zip";
    // The program sends the root directory upper-cased.
    const std::string root = temp.path() + "/ROOT";
    ASSERT_EQ(call.run(archive, root, GetParam().names), ZP_OK) << call.printed;
    EXPECT_EQ(archiveEntries(archive), GetParam().expected) << call.printed;
    EXPECT_NE(call.printed.find("querty: name not matched"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Zip32, Selecting, testing::ValuesIn(selectionCases),
                         testsupport::CaseName{});

TEST(Zip32Selection, AbsoluteNamesAreStoredRelative) {
    const testsupport::TempDir temp;
    writeSelectionTree(temp);
    ZipCall call;
    const std::string archive = temp / "out.zip";
    ASSERT_EQ(
        call.run(archive, temp / "root", {temp / "root/docs/guide.txt", temp / "outside/far.txt"}),
        ZP_OK);
    const std::string outside = (temp / "outside/far.txt").substr(1);
    EXPECT_EQ(archiveEntries(archive), (Entries{{"docs/guide.txt", "guide"}, {outside, "far"}}));
}

// A root folder or an archive whose name holds "*" or "?" is the one named:
// names are taken below that root alone, never from the folders beside it
// that the characters would match, and an existing archive they would match
// is left alone.
TEST(Zip32Selection, WildcardsInTheRootAndArchiveNamesAreTakenAsWritten) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "data/a*", {{"mine.txt", "mine"}});
    unzip32test::writeTree(temp / "data/ab", {{"beside.txt", "beside"}});
    ZipCall first;
    ASSERT_EQ(first.run(temp / "out1.zip", temp / "data/ab", {"beside.txt"}), ZP_OK);
    ZipCall call;
    call.options.recurseFolders = 1;
    // Upper-cased as the program sends it: still found by its letter case.
    ASSERT_EQ(call.run(temp / "out?.zip", temp / "DATA/A*", {"*"}), ZP_OK) << call.printed;
    EXPECT_EQ(archiveEntries(temp / "out?.zip"), (Entries{{"mine.txt", "mine"}})) << call.printed;
    EXPECT_EQ(archiveEntries(temp / "out1.zip"), (Entries{{"beside.txt", "beside"}}));
}

// The root and the archive as a caller may write them: "." and "..", letter
// cases other than the disk's, a link on the way, a name not there yet.
struct SpellingCase {
    const char* name;
    const char* root;
    const char* archive;
    // Where the archive must land.
    const char* placed;
};

const SpellingCase spellingCases[] = {
    {"AsOnDisk", "root/docs", "out.zip", "out.zip"},
    {"DotsTakenByTheText", "root/./deep/../../root/docs/", "root/missing/../out.zip",
     "root/out.zip"},
    {"OtherLetterCases", "ROOT/Docs", "Root/DOCS/Out.zip", "root/docs/Out.zip"},
    {"AnExistingArchiveInAnotherCase", "root/docs", "ROOT/A.TXT.ZIP", "root/a.txt.zip"},
    {"ThroughALinkToAFolder", "root/link-to-docs", "root/link-to-docs/out.zip",
     "root/docs/out.zip"},
};

class Spelling : public testing::TestWithParam<SpellingCase> {};

TEST_P(Spelling, RootAndArchiveAreTheOnesOnDisk) {
    const SpellingCase& c = GetParam();
    const testsupport::TempDir temp;
    writeSelectionTree(temp);
    ZipCall earlier;
    ASSERT_EQ(earlier.run(temp / "root/a.txt.zip", temp / "root", {"old.txt"}), ZP_OK);
    ZipCall call;
    ASSERT_EQ(call.run(temp / c.archive, temp / c.root, {"guide.txt"}), ZP_OK) << call.printed;
    Entries expected{{"guide.txt", "guide"}};
    if (std::string(c.placed) == "root/a.txt.zip") {
        expected.emplace("old.txt", "old");
    }
    EXPECT_EQ(archiveEntries(temp / c.placed), expected) << call.printed;
}

INSTANTIATE_TEST_SUITE_P(Zip32, Spelling, testing::ValuesIn(spellingCases),
                         testsupport::CaseName{});

TEST(Zip32Selection, ArchiveIsNeverAddedToItself) {
    const testsupport::TempDir temp;
    writeSelectionTree(temp);
    ZipCall call;
    call.options.recurseFolders = 1;
    const std::string archive = temp / "root/docs/self.zip";
    ASSERT_EQ(call.run(archive, temp / "root", {"docs/deep"}), ZP_OK);
    ASSERT_EQ(call.run(archive, temp / "root", {"docs"}), ZP_OK) << call.printed;
    EXPECT_EQ(archiveEntries(archive).count("docs/self.zip"), 0u);
}

TEST(Zip32Selection, FifosAndDevicesAreNeverRead) {
    const testsupport::TempDir temp;
    writeSelectionTree(temp);
    ASSERT_EQ(::mkfifo((temp / "root/docs/pipe").c_str(), 0600), 0);
    ZipCall call;
    call.options.recurseFolders = 1;
    ASSERT_EQ(call.run(temp / "out.zip", temp / "root", {"docs", "/dev/null"}), ZP_OK);
    EXPECT_EQ(archiveEntries(temp / "out.zip").count("docs/pipe"), 0u);
    EXPECT_NE(call.printed.find("pipe: is a FIFO, not a file; never read"), std::string::npos)
        << call.printed;
    EXPECT_NE(call.printed.find("/dev/null: is a device"), std::string::npos);
}

TEST(Zip32Selection, NothingSelectedLeavesTheArchiveAlone) {
    const testsupport::TempDir temp;
    writeSelectionTree(temp);
    ZipCall call;
    EXPECT_EQ(call.run(temp / "out.zip", temp / "root", {"nothing*", "missing.txt"}),
              ZP_NOTHING_TO_DO);
    EXPECT_FALSE(testsupport::exists(temp / "out.zip"));
    EXPECT_NE(call.printed.find("missing.txt: name not matched"), std::string::npos);
    EXPECT_EQ(call.run(temp / "out.zip", temp / "no such root", {"a.txt"}), ZP_ROOT_NOT_FOUND);
    call.options.includeByDate = 1;
    call.options.dateText = "2022-02-30";
    EXPECT_EQ(call.run(temp / "out.zip", temp / "root", {"a.txt"}), ZP_BAD_DATE);
    EXPECT_FALSE(testsupport::exists(temp / "out.zip"));
}

} // namespace
} // namespace zip32test
