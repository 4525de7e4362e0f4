// Changing an existing archive: add, update, freshen, delete, move, and
// what each entry records: level, line ends, times, comment; repair.
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "zip32test/ZipHarness.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <fstream>
#include <functional>
#include <sys/stat.h>

namespace zip32test {
namespace {

using Entries = std::map<std::string, std::string>;
using unzip32test::runTool;

constexpr std::time_t lastYear = 1700000000;

// An archive holding a.txt, old.txt and keep.txt as they were; then a.txt is
// changed (newer), old.txt is changed but dated before its entry, new.txt
// appears.
std::string archiveToChange(const testsupport::TempDir& temp) {
    unzip32test::writeTree(temp / "root",
                           {{"a.txt", "a1"}, {"old.txt", "old1"}, {"keep.txt", "k"}});
    for (const char* name : {"a.txt", "old.txt", "keep.txt"}) {
        setModified(temp / "root" + "/" + name, lastYear);
    }
    ZipCall call;
    const std::string archive = temp / "p.zip";
    EXPECT_EQ(call.run(archive, temp / "root", {"*.txt"}), ZP_OK);
    testsupport::writeFile(temp / "root/a.txt", "a2");
    testsupport::writeFile(temp / "root/old.txt", "old2");
    setModified(temp / "root/old.txt", lastYear - 3600);
    testsupport::writeFile(temp / "root/new.txt", "new");
    return archive;
}

struct ChangeCase {
    const char* name;
    std::function<void(ZpOptions&)> options;
    std::vector<std::string> names;
    Entries expected;
};

const ChangeCase changeCases[] = {
    {"AddReplacesEntriesOfTheSameName",
     [](ZpOptions&) {},
     {"A.TXT", "old.txt", "new.txt"},
     {{"a.txt", "a2"}, {"old.txt", "old2"}, {"keep.txt", "k"}, {"new.txt", "new"}}},
    {"UpdateReplacesNewerAndAddsNew",
     [](ZpOptions& o) { o.updateNewer = 1; },
     {"*.txt"},
     {{"a.txt", "a2"}, {"old.txt", "old1"}, {"keep.txt", "k"}, {"new.txt", "new"}}},
    {"FreshenOnlyReplacesNewer",
     [](ZpOptions& o) { o.freshenNewer = 1; },
     {"*.txt"},
     {{"a.txt", "a2"}, {"old.txt", "old1"}, {"keep.txt", "k"}}},
    {"GrowKeepsTheOtherEntries",
     [](ZpOptions& o) { o.grow = 1; },
     {"new.txt"},
     {{"a.txt", "a1"}, {"old.txt", "old1"}, {"keep.txt", "k"}, {"new.txt", "new"}}},
    {"DeleteRemovesMatchingEntries",
     [](ZpOptions& o) { o.deleteEntries = 1; },
     {"OLD.*", "a.txt"},
     {{"keep.txt", "k"}}},
};

class Changing : public testing::TestWithParam<ChangeCase> {};

TEST_P(Changing, KeepsReplacesAndAddsAsTheJobSays) {
    const testsupport::TempDir temp;
    const std::string archive = archiveToChange(temp);
    ZipCall call;
    GetParam().options(call.options);
    ASSERT_EQ(call.run(archive, temp / "root", GetParam().names), ZP_OK) << call.printed;
    EXPECT_EQ(archiveEntries(archive), GetParam().expected) << call.printed;
}

INSTANTIATE_TEST_SUITE_P(Zip32, Changing, testing::ValuesIn(changeCases), testsupport::CaseName{});

TEST(Zip32Changes, DeletingFolderWithRecurseTakesItsTree) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"docs/a.txt", "a"}, {"docs/b/c.txt", "c"}, {"x", "x"}});
    ZipCall call;
    call.options.recurseFolders = 1;
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"docs", "x"}), ZP_OK);
    call.options.deleteEntries = 1;
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"docs"}), ZP_OK);
    EXPECT_EQ(archiveEntries(temp / "p.zip"), (Entries{{"x", "x"}}));
    EXPECT_EQ(call.run(temp / "p.zip", temp / "root", {"nothing"}), ZP_NOTHING_TO_DO);
    // With no entry left there is no archive left.
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"X"}), ZP_OK);
    EXPECT_FALSE(testsupport::exists(temp / "p.zip"));
}

TEST(Zip32Changes, MoveRemovesSourcesOnlyOnceTheArchiveIsInPlace) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root",
                           {{"out/a.txt", "a"}, {"out/sub/b.txt", "b"}, {"stay", "s"}});
    ZipCall call;
    call.options.recurseFolders = 1;
    call.options.moveFiles = 1;
    // Stopped: nothing moved.
    call.stopAtEntry = "out/sub/b.txt";
    EXPECT_EQ(call.run(temp / "p.zip", temp / "root", {"out"}), ZP_STOPPED_BY_CALLER);
    EXPECT_TRUE(testsupport::exists(temp / "root/out/sub/b.txt"));
    call.stopAtEntry.clear();
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"out"}), ZP_OK) << call.printed;
    EXPECT_EQ(archiveEntries(temp / "p.zip"), (Entries{{"out/", "<folder>"},
                                                       {"out/a.txt", "a"},
                                                       {"out/sub/", "<folder>"},
                                                       {"out/sub/b.txt", "b"}}));
    EXPECT_FALSE(testsupport::exists(temp / "root/out"));
    EXPECT_TRUE(testsupport::exists(temp / "root/stay"));
}

// Deflated ahead on the workers (level 6) and stored as libzip reads it
// (level 0): the same translation either way.
class LineEnds : public testing::TestWithParam<uint8_t> {};

TEST_P(LineEnds, ChangeInTextFilesOnly) {
    const testsupport::TempDir temp;
    const std::string binary("bin\r\n\0\x01\n", 8);
    unzip32test::writeTree(
        temp / "root",
        {{"dos.txt", "a\r\nb\r\n\r"}, {"unix.txt", "a\nb\r\nc\n"}, {"data.bin", binary}});
    ZipCall call;
    call.options.compressionLevel = GetParam();
    call.options.crlfToLf = 1;
    ASSERT_EQ(call.run(temp / "lf.zip", temp / "root", {"*"}), ZP_OK);
    EXPECT_EQ(archiveEntries(temp / "lf.zip"),
              (Entries{{"dos.txt", "a\nb\n\r"}, {"unix.txt", "a\nb\nc\n"}, {"data.bin", binary}}));
    call.options.crlfToLf = 0;
    call.options.lfToCrlf = 1;
    ASSERT_EQ(call.run(temp / "crlf.zip", temp / "root", {"*"}), ZP_OK);
    EXPECT_EQ(archiveEntries(temp / "crlf.zip"), (Entries{{"dos.txt", "a\r\nb\r\n\r"},
                                                          {"unix.txt", "a\r\nb\r\nc\r\n"},
                                                          {"data.bin", binary}}));
    // Sizes and CRCs are those of what is stored.
    runTool({"python3", "-c",
             "import sys, zipfile; assert zipfile.ZipFile(sys.argv[1]).testzip() is None",
             temp / "crlf.zip"});
    call.options.crlfToLf = 1;
    EXPECT_EQ(call.run(temp / "both.zip", temp / "root", {"*"}), ZP_BAD_ARGUMENT);
}

// As much of the start decides as the unzip library reads before it
// decides: a zero byte some pages into a file still keeps its bytes as they
// are. Backspaces are text.
TEST_P(LineEnds, ZeroByteLateInTheStartKeepsTheFileAsItIs) {
    const testsupport::TempDir temp;
    const std::string late = std::string(64 * 1024, 'x') + "\n" + std::string(1, '\0') + "\n";
    unzip32test::writeTree(temp / "root", {{"late.dat", late}, {"over.txt", "_\bx\n"}});
    ZipCall call;
    call.options.compressionLevel = GetParam();
    call.options.lfToCrlf = 1;
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"*"}), ZP_OK);
    EXPECT_EQ(archiveEntries(temp / "p.zip"),
              (Entries{{"late.dat", late}, {"over.txt", "_\bx\r\n"}}));
}

INSTANTIATE_TEST_SUITE_P(Zip32, LineEnds, testing::Values(uint8_t{0}, uint8_t{'0'}));

struct LevelCase {
    const char* name;
    uint8_t level;
    int32_t result;
    zip_uint16_t method;
};

const LevelCase levelCases[] = {
    {"ZeroIsTheDefault", 0, ZP_OK, ZIP_CM_DEFLATE},
    {"CharacterZeroStores", '0', ZP_OK, ZIP_CM_STORE},
    {"CharacterNine", '9', ZP_OK, ZIP_CM_DEFLATE},
    {"ValueOne", 1, ZP_OK, ZIP_CM_DEFLATE},
    {"ValueTenIsRefused", 10, ZP_BAD_ARGUMENT, 0},
    {"LetterIsRefused", 'a', ZP_BAD_ARGUMENT, 0},
};

class Levels : public testing::TestWithParam<LevelCase> {};

TEST_P(Levels, LevelByteChoosesTheMethod) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"a.txt", std::string(1000, 'a')}});
    ZipCall call;
    call.options.compressionLevel = GetParam().level;
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"a.txt"}), GetParam().result);
    if (GetParam().result != ZP_OK) {
        EXPECT_FALSE(testsupport::exists(temp / "p.zip"));
        return;
    }
    zip_t* archive = zip_open((temp / "p.zip").c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(archive, nullptr);
    zip_stat_t stat;
    ASSERT_EQ(zip_stat_index(archive, 0, 0, &stat), 0);
    EXPECT_EQ(stat.comp_method, GetParam().method);
    zip_discard(archive);
}

INSTANTIATE_TEST_SUITE_P(Zip32, Levels, testing::ValuesIn(levelCases), testsupport::CaseName{});

// The extra fields and attributes Python sees for the one entry.
std::string entryRecord(const std::string& archive) {
    const testsupport::TempDir temp;
    runTool({"python3", "-c",
             "import sys, zipfile\n"
             "z = zipfile.ZipFile(sys.argv[1]); i = z.infolist()[0]\n"
             "open(sys.argv[2], 'w').write('%o %s %r %r' % (i.external_attr >> 16, i.date_time,"
             " i.extra, z.comment))",
             archive, temp / "record"});
    return testsupport::readFile(temp / "record");
}

TEST(Zip32Changes, TimesModesAndCommentAreRecorded) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"run.sh", "#!/bin/sh\n"}});
    ::chmod((temp / "root/run.sh").c_str(), 0750);
    setModified(temp / "root/run.sh", 1700000001);
    ZipCall call;
    call.options.addArchiveComment = 1;
    call.comment = "Release 1.3";
    call.options.archiveTimeFromLatest = 1;
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"run.sh"}), ZP_OK);
    const std::string record = entryRecord(temp / "p.zip");
    // 1700000001 little-endian in the timestamp field, after its flag byte.
    EXPECT_NE(record.find("100750 "), std::string::npos) << record;
    EXPECT_NE(record.find("b'UT\\x05\\x00\\x01\\x01\\xf1Se'"), std::string::npos) << record;
    EXPECT_NE(record.find("b'Release 1.3'"), std::string::npos) << record;
    struct stat status {};
    ASSERT_EQ(::stat((temp / "p.zip").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, 1700000000) << "the entry's DOS time, to two seconds";

    // The callback is offered the present comment; null keeps it.
    call.comment.reset();
    call.options.excludeExtraAttributes = 1;
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"run.sh"}), ZP_OK);
    EXPECT_EQ(call.commentOffered, "Release 1.3");
    EXPECT_EQ(entryRecord(temp / "p.zip").find("UT"), std::string::npos);
    EXPECT_NE(entryRecord(temp / "p.zip").find("b'Release 1.3'"), std::string::npos);
}

TEST(Zip32Changes, ANewArchiveTakesTheMaskAndAChangedOneKeepsItsMode) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"a.txt", "a"}});
    const auto modeOf = [](const std::string& path) {
        struct stat status {};
        EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
        return status.st_mode & 07777;
    };
    const mode_t earlier = ::umask(027);
    ZipCall call;
    EXPECT_EQ(call.run(temp / "p.zip", temp / "root", {"a.txt"}), ZP_OK);
    EXPECT_EQ(modeOf(temp / "p.zip"), 0640u);
    ::chmod((temp / "p.zip").c_str(), 0604);
    testsupport::writeFile(temp / "root/b.txt", "b");
    EXPECT_EQ(call.run(temp / "p.zip", temp / "root", {"b.txt"}), ZP_OK);
    ::umask(earlier);
    EXPECT_EQ(modeOf(temp / "p.zip"), 0604u);
}

TEST(Zip32Changes, RepairRebuildsFromLocalHeadersKeepingSoundEntries) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", unzip32test::samplePackage());
    const std::string archive = temp / "p.zip";
    unzip32test::scriptArchive("deflated", archive, temp / "root");
    Entries expected = archiveEntries(archive);
    // Cut the central directory off, and damage the data of one entry.
    const std::string whole = testsupport::readFile(archive);
    std::string cut = whole.substr(0, whole.find("PK\x01\x02"));
    const std::size_t nested = cut.find("nested.txt");
    ASSERT_NE(nested, std::string::npos);
    cut[nested + 12] = static_cast<char>(cut[nested + 12] ^ 0x55);
    testsupport::writeFile(archive, cut);

    ZipCall call;
    EXPECT_EQ(call.run(archive, temp / "root", {}), ZP_NOT_A_ZIP);
    EXPECT_EQ(testsupport::readFile(archive), cut);
    call.options.repairArchive = 1;
    ASSERT_EQ(call.run(archive, temp / "root", {}), ZP_OK) << call.printed;
    EXPECT_NE(call.printed.find("docs/deep/er/nested.txt: data does not check out"),
              std::string::npos)
        << call.printed;
    expected.erase("docs/deep/er/nested.txt");
    // Compared name by name: the binary entry is too large to print.
    const Entries repaired = archiveEntries(archive);
    std::vector<std::string> names;
    for (const auto& [name, content] : repaired) {
        names.push_back(name);
        EXPECT_TRUE(expected.count(name) != 0 && expected.at(name) == content) << name;
    }
    EXPECT_EQ(names.size(), expected.size()) << testing::PrintToString(names);
}

} // namespace
} // namespace zip32test

namespace zip32test {
namespace {

TEST(Zip32Changes, SelfExtractorPrefixIsKeptJunkedOrAdjusted) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"a.txt", "a"}, {"b.txt", "b"}});
    const std::string stub = "#!/bin/sh\nexec self-extract \"$0\"\n";
    ZipCall call;
    ASSERT_EQ(call.run(temp / "plain.zip", temp / "root", {"a.txt"}), ZP_OK);
    // Offsets that do not count the prefix, as a plain concatenation leaves them.
    testsupport::writeFile(temp / "sfx", stub + testsupport::readFile(temp / "plain.zip"));
    const std::string unadjusted = testsupport::readFile(temp / "sfx");
    EXPECT_EQ(call.run(temp / "sfx", temp / "root", {"b.txt"}), ZP_NOT_A_ZIP);
    EXPECT_EQ(testsupport::readFile(temp / "sfx"), unadjusted);

    call.options.adjustSelfExtractorOffsets = 1;
    ASSERT_EQ(call.run(temp / "sfx", temp / "root", {"b.txt"}), ZP_OK) << call.printed;
    EXPECT_TRUE(testsupport::readFile(temp / "sfx").starts_with(stub));
    EXPECT_EQ(archiveEntries(temp / "sfx"), (Entries{{"a.txt", "a"}, {"b.txt", "b"}}));
    runTool({"python3", "-c",
             "import sys, zipfile; assert zipfile.ZipFile(sys.argv[1]).testzip() is None",
             temp / "sfx"});

    call.options.adjustSelfExtractorOffsets = 0;
    call.options.junkSelfExtractorPrefix = 1;
    ASSERT_EQ(call.run(temp / "sfx", temp / "root", {"a.txt"}), ZP_OK) << call.printed;
    EXPECT_TRUE(testsupport::readFile(temp / "sfx").starts_with("PK\x03\x04"));
    EXPECT_EQ(archiveEntries(temp / "sfx"), (Entries{{"a.txt", "a"}, {"b.txt", "b"}}));
}

} // namespace
} // namespace zip32test

namespace zip32test {
namespace {

// Small files are deflated ahead on worker threads, large ones by libzip as
// it writes them; mixed, each lands in order under its own name.
TEST(Zip32Changes, FilesDeflatedAheadAndInlineMix) {
    const testsupport::TempDir temp;
    unzip32test::Tree tree;
    std::string large(9 << 20, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    tree["large.bin"] = large;
    for (int i = 0; i < 40; ++i) {
        tree["small/" + std::to_string(i) + ".txt"] =
            std::string(1000 + i * 3000, static_cast<char>('a' + i % 26));
    }
    unzip32test::writeTree(temp / "root", tree);
    ZipCall call;
    call.options.noDirectoryEntries = 1;
    call.options.recurseFolders = 1;
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"small", "large.bin"}), ZP_OK);
    const Entries entries = archiveEntries(temp / "p.zip");
    ASSERT_EQ(entries.size(), tree.size());
    for (const auto& [name, content] : tree) {
        EXPECT_TRUE(entries.count(name) != 0 && entries.at(name) == content) << name;
    }
}

} // namespace
} // namespace zip32test
