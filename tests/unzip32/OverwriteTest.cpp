// Existing files: the overwrite callback's three answers, overwriting off
// with and without asking, freshening and extracting only newer files.
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "unzip32test/UnzipHarness.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

namespace unzip32test {
namespace {

const Tree packed{{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "new c"}, {"d.txt", "new d"}};
const Tree present{{"a.txt", "old a"}, {"b.txt", "old b"}, {"c.txt", "old c"}};

class Overwrite : public ::testing::Test {
protected:
    void SetUp() override {
        writeTree(m_temp / "source", packed);
        scriptArchive("deflated", m_archive, m_temp / "source");
        writeTree(m_folder, present);
    }

    // Sets a file's modification time to the archive's time plus offset.
    void shiftTime(const std::string& name, long offsetSeconds) {
        struct stat packedFile {};
        ASSERT_EQ(stat((m_temp / "source/" + name).c_str(), &packedFile), 0);
        const timespec times[2] = {{packedFile.st_mtime + offsetSeconds, 0},
                                   {packedFile.st_mtime + offsetSeconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (m_folder + "/" + name).c_str(), times, 0), 0);
    }

    testsupport::TempDir m_temp;
    std::string m_archive = m_temp / "p.zip";
    std::string m_folder = m_temp / "out";
};

struct Answers {
    const char* name;
    std::vector<int32_t> answers;
    std::size_t questions;
    Tree afterwards;
};

TEST_F(Overwrite, HonoursEachAnswerOfTheCallback) {
    const Answers cases[] = {
        {"leave, replace, leave",
         {100, 102, 100},
         3,
         {{"a.txt", "old a"}, {"b.txt", "new b"}, {"c.txt", "old c"}, {"d.txt", "new d"}}},
        {"replace all", {102, 102, 102}, 3, packed},
        {"none from the first",
         {104},
         1,
         {{"a.txt", "old a"}, {"b.txt", "old b"}, {"c.txt", "old c"}, {"d.txt", "new d"}}},
        {"replace, then none",
         {102, 104},
         2,
         {{"a.txt", "new a"}, {"b.txt", "old b"}, {"c.txt", "old c"}, {"d.txt", "new d"}}},
        {"an unknown answer leaves the file",
         {7, 102, 102},
         3,
         {{"a.txt", "old a"}, {"b.txt", "new b"}, {"c.txt", "new c"}, {"d.txt", "new d"}}},
    };
    for (const Answers& c : cases) {
        writeTree(m_folder, present);
        std::filesystem::remove(m_folder + "/d.txt");
        UnzipCall call;
        call.options.promptBeforeOverwrite = 1;
        call.overwriteAnswers = c.answers;
        EXPECT_EQ(call.run(m_archive, m_folder), UZP_OK) << c.name << call.printed;
        EXPECT_EQ(call.overwriteAsked.size(), c.questions) << c.name;
        EXPECT_EQ(readTree(m_folder), c.afterwards) << c.name;
        if (!call.overwriteAsked.empty()) {
            EXPECT_EQ(call.overwriteAsked.front(), m_folder + "/a.txt") << c.name;
        }
    }
}

TEST_F(Overwrite, OffLeavesExistingFilesAndAsksOnlyWhenPrompting) {
    UnzipCall silent;
    silent.options.overwriteExisting = 0;
    EXPECT_EQ(silent.run(m_archive, m_folder), UZP_OK) << silent.printed;
    EXPECT_TRUE(silent.overwriteAsked.empty());
    Tree kept = present;
    kept["d.txt"] = "new d";
    EXPECT_EQ(readTree(m_folder), kept);

    UnzipCall asking;
    asking.options.overwriteExisting = 0;
    asking.options.promptBeforeOverwrite = 1;
    asking.overwriteAnswers = {102, 100, 100, 100};
    EXPECT_EQ(asking.run(m_archive, m_folder), UZP_OK) << asking.printed;
    EXPECT_EQ(asking.overwriteAsked.size(), 4u);
    kept["a.txt"] = "new a";
    EXPECT_EQ(readTree(m_folder), kept);
}

// a.txt is older than its entry, b.txt newer, c.txt as old (within the
// two seconds of the stored time); d.txt is not there.
TEST_F(Overwrite, FreshenAndOnlyNewerCompareTimesWithoutAsking) {
    struct TimeRule {
        const char* name;
        int32_t UzpOptions::*flag;
        Tree afterwards;
    };
    const TimeRule rules[] = {
        {"freshen creates nothing",
         &UzpOptions::freshenExisting,
         {{"a.txt", "new a"}, {"b.txt", "old b"}, {"c.txt", "old c"}}},
        {"only newer creates new files",
         &UzpOptions::extractOnlyNewer,
         {{"a.txt", "new a"}, {"b.txt", "old b"}, {"c.txt", "old c"}, {"d.txt", "new d"}}},
    };
    for (const TimeRule& rule : rules) {
        std::filesystem::remove_all(m_folder);
        writeTree(m_folder, present);
        shiftTime("a.txt", -3600);
        shiftTime("b.txt", +3600);
        shiftTime("c.txt", 1);
        UnzipCall call;
        call.options.*rule.flag = 1;
        call.options.promptBeforeOverwrite = 1;
        EXPECT_EQ(call.run(m_archive, m_folder), UZP_OK) << rule.name << call.printed;
        EXPECT_TRUE(call.overwriteAsked.empty()) << rule.name;
        EXPECT_EQ(readTree(m_folder), rule.afterwards) << rule.name;
    }
}

TEST_F(Overwrite, ReplacesReadOnlyFilesAndLinksButNotFolders) {
    chmod((m_folder + "/a.txt").c_str(), 0444);
    std::filesystem::remove(m_folder + "/b.txt");
    std::filesystem::create_symlink("/etc/hostname", m_folder + "/b.txt");
    std::filesystem::remove(m_folder + "/c.txt");
    std::filesystem::create_directory(m_folder + "/c.txt");
    UnzipCall call;
    EXPECT_EQ(call.run(m_archive, m_folder), UZP_WRITE_FAILED) << call.printed;
    EXPECT_EQ(testsupport::readFile(m_folder + "/a.txt"), "new a");
    EXPECT_EQ(readTree(m_folder)["b.txt"], "new b");
    EXPECT_TRUE(std::filesystem::is_directory(m_folder + "/c.txt"));
    EXPECT_NE(call.printed.find("error: c.txt: "), std::string::npos) << call.printed;
}

} // namespace
} // namespace unzip32test
