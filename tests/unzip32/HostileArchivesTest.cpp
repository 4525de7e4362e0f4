// Archives built to do harm: nothing lands outside the extraction folder, no
// good file is replaced by a bad one, nothing half-written stays behind, and
// each is reported with its own code and the entry's name.
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "unzip32test/UnzipHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace unzip32test {
namespace {

namespace fs = std::filesystem;

struct HostileCase {
    const char* kind;
    int32_t code;
    // What the extraction folder holds afterwards ("same.txt" is the good
    // file that was there before).
    Tree afterwards;
    const char* reported;
};

const std::string goodContent = "the good file\n";

const HostileCase hostileCases[] = {
    {"dotdot", UZP_UNSAFE_ENTRY, {{"ok.txt", "fine"}, {"same.txt", goodContent}}, "../escaped.txt"},
    {"absolute",
     UZP_UNSAFE_ENTRY,
     {{"ok.txt", "fine"}, {"same.txt", goodContent}},
     "/tmp/unzip32-absolute-escape.txt"},
    {"backslash",
     UZP_UNSAFE_ENTRY,
     {{"ok.txt", "fine"},
      {"same.txt", goodContent},
      {"sub", "<folder>"},
      {"sub/inner.txt", "inside"}},
     "..\\escaped.txt"},
    {"drive", UZP_UNSAFE_ENTRY, {{"ok.txt", "fine"}, {"same.txt", goodContent}}, "C:/escaped.txt"},
    {"symlink-out",
     UZP_UNSAFE_ENTRY,
     {{"same.txt", goodContent},
      {"link", "<folder>"},
      {"link/escaped.txt", "evil"},
      {"inside", "-> sub/target.txt"},
      {"sub", "<folder>"},
      {"sub/target.txt", "target"}},
     "climb"},
    {"symlink-in-then-file",
     UZP_UNSAFE_ENTRY,
     {{"same.txt", goodContent},
      {"alias", "-> sub"},
      {"sub", "<folder>"},
      {"sub/keep.txt", "keep"}},
     "alias/through.txt"},
    {"bad-crc", UZP_BAD_ENTRY_DATA, {{"same.txt", goodContent}}, "same.txt: CRC-32"},
    {"bad-crc-many", UZP_BAD_ENTRY_DATA, {{"same.txt", goodContent}}, "bad5.txt: CRC-32"},
    {"flipped", UZP_BAD_ENTRY_DATA, {{"same.txt", goodContent}}, "same.txt"},
    {"oversize", UZP_BAD_ENTRY_DATA, {{"same.txt", goodContent}}, "more data than the 100 bytes"},
    {"undersize", UZP_BAD_ENTRY_DATA, {{"same.txt", goodContent}}, "ends after 1000 of the 1050"},
    {"overlap-same-data", UZP_OVERLAPPING_ENTRIES, {{"same.txt", goodContent}}, "overlap"},
    {"overlap-covering", UZP_OVERLAPPING_ENTRIES, {{"same.txt", goodContent}}, "overlap"},
    // The overlap bomb with a decoy directory and a second end record after
    // it: one reader checks the decoy, another extracts the bomb.
    {"two-end-records-other-disk",
     UZP_DAMAGED_ARCHIVE,
     {{"same.txt", goodContent}},
     "more than one end record"},
    {"two-end-records-both-whole",
     UZP_DAMAGED_ARCHIVE,
     {{"same.txt", goodContent}},
     "more than one end record"},
};

void PrintTo(const HostileCase& hostile, std::ostream* out) {
    *out << hostile.kind;
}

class HostileArchives : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileArchives, RefusedSafelyAndReported) {
    const testsupport::TempDir temp;
    const HostileCase& hostile = GetParam();
    const std::string archive = scriptArchive(hostile.kind, temp / "hostile.zip");
    const std::string folder = temp / "out";
    writeTree(folder, {{"same.txt", goodContent}});
    fs::remove("/tmp/unzip32-absolute-escape.txt");

    UnzipCall call;
    EXPECT_EQ(call.run(archive, folder), hostile.code) << call.printed;
    EXPECT_EQ(readTree(folder), hostile.afterwards) << call.printed;
    EXPECT_EQ(readTree(temp.path()).count("escaped.txt"), 0u);
    EXPECT_FALSE(testsupport::exists("/tmp/unzip32-absolute-escape.txt"));
    EXPECT_NE(call.printed.find(hostile.reported), std::string::npos) << call.printed;
    EXPECT_EQ(call.sounds, 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileArchives, ::testing::ValuesIn(hostileCases),
                         [](const auto& testCase) {
                             std::string name = testCase.param.kind;
                             std::erase(name, '-');
                             return name;
                         });

TEST(HostileFolders, SymbolicLinkAlreadyInTheFolderIsNotFollowed) {
    const testsupport::TempDir temp;
    writeTree(temp / "source", {{"link/escaped.txt", "evil"}, {"ok.txt", "fine"}});
    const std::string archive = scriptArchive("deflated", temp / "p.zip", temp / "source");
    fs::create_directories(temp / "outside");
    fs::create_directories(temp / "out");
    fs::create_directory_symlink(temp / "outside", temp / "out/link");

    UnzipCall call;
    EXPECT_EQ(call.run(archive, temp / "out"), UZP_UNSAFE_ENTRY);
    EXPECT_TRUE(fs::is_empty(temp / "outside"));
    EXPECT_EQ(testsupport::readFile(temp / "out/ok.txt"), "fine");
    EXPECT_NE(call.printed.find("link/escaped.txt: refused"), std::string::npos) << call.printed;
}

// A damaged or foreign file gives a code and a message, never a crash.
TEST(DamagedArchives, GiveACodeAndAMessage) {
    const testsupport::TempDir temp;
    writeTree(temp / "source", samplePackage());
    const std::string good = scriptArchive("deflated", temp / "good.zip", temp / "source");
    const std::string bytes = testsupport::readFile(good);
    const std::size_t directory = bytes.rfind(std::string("PK\x01\x02", 4));
    ASSERT_NE(directory, std::string::npos);

    struct Damage {
        const char* name;
        std::string content;
    };
    std::string brokenDirectory = bytes;
    brokenDirectory[directory + 1] = 'X';
    const Damage damages[] = {
        {"empty", ""},
        {"html page", "<html><body>404 Not Found</body></html>\n"},
        {"cut in half", bytes.substr(0, bytes.size() / 2)},
        {"cut in the directory", bytes.substr(0, directory + 30)},
        {"cut in the end record", bytes.substr(0, bytes.size() - 10)},
        {"broken directory record", brokenDirectory},
    };
    for (const Damage& damage : damages) {
        const std::string path = temp / "damaged.zip";
        testsupport::writeFile(path, damage.content);
        UnzipCall call;
        const int32_t result = call.run(path, temp / "out");
        EXPECT_TRUE(result == UZP_NOT_A_ZIP || result == UZP_DAMAGED_ARCHIVE)
            << damage.name << ": " << result;
        EXPECT_NE(call.printed.find("error: "), std::string::npos) << damage.name;
        EXPECT_FALSE(testsupport::exists(temp / "out/notes.txt")) << damage.name;
    }
    UnzipCall missing;
    EXPECT_EQ(missing.run(temp / "no such.zip", temp / "out"), UZP_ARCHIVE_NOT_FOUND);
    EXPECT_NE(missing.printed.find("no such.zip"), std::string::npos);
}

// After a failed entry no file in the making is left in any folder.
TEST(DamagedArchives, LeaveNoTemporaryFiles) {
    const testsupport::TempDir temp;
    const std::string archive = scriptArchive("flipped", temp / "flipped.zip");
    UnzipCall call;
    EXPECT_EQ(call.run(archive, temp / "out"), UZP_BAD_ENTRY_DATA);
    EXPECT_TRUE(fs::is_empty(temp / "out"));
}

} // namespace
} // namespace unzip32test
