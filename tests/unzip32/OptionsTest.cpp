// Each option of the record, through the real library.
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "unzip32test/UnzipHarness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace unzip32test {
namespace {

namespace fs = std::filesystem;

// Archives what a folder holds with bsdtar, which records permissions, times
// and owners; the top names are given one by one so that none starts with "./".
void packFolder(const std::string& folder, const std::string& archive) {
    std::vector<std::string> command{"bsdtar", "--format=zip", "-cf", archive};
    for (const auto& item : fs::directory_iterator(folder)) {
        command.push_back(item.path().filename().string());
    }
    runTool(command, folder);
}

std::string zipTree(const testsupport::TempDir& temp, const Tree& tree) {
    writeTree(temp / "source", tree);
    packFolder(temp / "source", temp / "p.zip");
    return temp / "p.zip";
}

// Archives a tree in name order, with Python's zipfile.
std::string orderedArchive(const testsupport::TempDir& temp, const Tree& tree) {
    writeTree(temp / "source", tree);
    return scriptArchive("deflated", temp / "ordered.zip", temp / "source");
}

// Sends file descriptor 1 to a file while it lives.
class StandardOutputTo {
public:
    explicit StandardOutputTo(const std::string& path) : m_saved(dup(1)) {
        std::fflush(stdout);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        close(fd);
    }
    ~StandardOutputTo() {
        std::fflush(stdout);
        dup2(m_saved, 1);
        close(m_saved);
    }
    StandardOutputTo(const StandardOutputTo&) = delete;
    StandardOutputTo& operator=(const StandardOutputTo&) = delete;

private:
    int m_saved;
};

TEST(Listing, ReportsEveryFieldOfEachEntry) {
    const testsupport::TempDir temp;
    UnzipCall call;
    call.options.listContents = 1;
    call.options.verbose = 1;
    ASSERT_EQ(call.run(scriptArchive("dated", temp / "d.zip"), temp / "out"), UZP_OK);
    ASSERT_EQ(call.listed.size(), 3u);
    const ListedEntry& folder = call.listed[0];
    const ListedEntry& text = call.listed[1];
    const ListedEntry& link = call.listed[2];
    EXPECT_EQ(folder.kind, 'd');
    EXPECT_EQ(text.name, "folder/hello.txt");
    EXPECT_EQ(text.kind, '-');
    EXPECT_EQ(text.size, 6u);
    EXPECT_EQ(text.compressedSize, 8u);
    EXPECT_EQ(text.percent, -33);
    EXPECT_EQ(text.method, "Deflate");
    EXPECT_EQ(text.crc, 0x363a3020u); // CRC-32 of "hello\n"
    EXPECT_EQ(text.encrypted, 0);
    EXPECT_EQ((std::vector<uint32_t>{text.year, text.month, text.day, text.hour, text.minute}),
              (std::vector<uint32_t>{2024, 3, 5, 14, 30}));
    EXPECT_EQ(link.kind, 'l');
    EXPECT_EQ((std::vector<uint32_t>{link.year, link.month, link.day}),
              (std::vector<uint32_t>{2023, 12, 31}));
    EXPECT_NE(call.printed.find("2024-03-05 14:30: folder/hello.txt  (6 bytes, Deflate -33%"),
              std::string::npos)
        << call.printed;
    EXPECT_NE(call.printed.find("3 entries, 22 bytes"), std::string::npos) << call.printed;
    EXPECT_FALSE(testsupport::exists(temp / "out"));
}

TEST(StandardOutput, WritesTheFilesDataInOrder) {
    const testsupport::TempDir temp;
    const std::string archive = orderedArchive(
        temp, {{"a/one.txt", "one\r\n"}, {"a/two.txt", "two\r\n"}, {"b", "<folder>"}});
    UnzipCall call;
    call.options.writeToStandardOutput = 1;
    call.options.translateLineEnds = 1;
    int32_t result = 0;
    {
        const StandardOutputTo capture(temp / "stdout");
        result = call.run(archive, temp / "out");
    }
    EXPECT_EQ(result, UZP_OK) << call.printed;
    EXPECT_EQ(testsupport::readFile(temp / "stdout"), "one\ntwo\n");
    EXPECT_FALSE(testsupport::exists(temp / "out/a"));

    const StandardOutputTo full("/dev/full");
    EXPECT_EQ(call.run(archive, temp / "out"), UZP_DISK_FULL);
}

TEST(Paths, DroppedFoldersPutEveryFileInTheFolderAndTheLaterOneWins) {
    const testsupport::TempDir temp;
    const std::string archive = orderedArchive(
        temp,
        {{"first/updater.ini", "first"}, {"second/updater.ini", "second"}, {"x/y/z.txt", "z"}});
    UnzipCall call;
    call.options.honorDirectories = 0;
    ASSERT_EQ(call.run(archive, temp / "out"), UZP_OK) << call.printed;
    EXPECT_EQ(readTree(temp / "out"), (Tree{{"updater.ini", "second"}, {"z.txt", "z"}}));
}

TEST(Paths, SpacesBecomeUnderscores) {
    const testsupport::TempDir temp;
    const std::string archive = zipTree(temp, {{"my folder/a file.txt", "x"}});
    UnzipCall call;
    call.options.spacesToUnderscores = 1;
    ASSERT_EQ(call.run(archive, temp / "out"), UZP_OK) << call.printed;
    EXPECT_EQ(readTree(temp / "out"),
              (Tree{{"my_folder", "<folder>"}, {"my_folder/a_file.txt", "x"}}));
}

TEST(Paths, NoFolderPointerMeansTheCurrentFolder) {
    const testsupport::TempDir temp;
    const std::string archive = zipTree(temp, {{"here.txt", "here"}});
    fs::create_directories(temp / "current");
    const fs::path previous = fs::current_path();
    fs::current_path(temp / "current");
    UnzipCall call;
    const int32_t result = call.runWithoutFolder(archive);
    fs::current_path(previous);
    EXPECT_EQ(result, UZP_OK) << call.printed;
    EXPECT_EQ(testsupport::readFile(temp / "current/here.txt"), "here");
}

TEST(LineEnds, OnlyTextEntriesLoseTheirCarriageReturns) {
    const testsupport::TempDir temp;
    std::string longText;
    while (longText.size() < 600 * 1024) {
        longText += "a line that ends the other platform's way\r\n";
    }
    const Tree tree{{"crlf.txt", "a\r\nb\r\n"},
                    {"lone.txt", "a\rb\r"},
                    {"long.txt", longText},
                    {"binary.bin", std::string("\0\r\n\x01\x02", 5)}};
    const std::string archive = zipTree(temp, tree);
    UnzipCall call;
    call.options.translateLineEnds = 1;
    ASSERT_EQ(call.run(archive, temp / "out"), UZP_OK) << call.printed;
    std::string longTranslated = longText;
    std::erase(longTranslated, '\r');
    EXPECT_EQ(readTree(temp / "out"), (Tree{{"crlf.txt", "a\nb\n"},
                                            {"lone.txt", "a\rb\r"},
                                            {"long.txt", longTranslated},
                                            {"binary.bin", tree.at("binary.bin")}}));
    UnzipCall plain;
    ASSERT_EQ(plain.run(archive, temp / "plain"), UZP_OK);
    EXPECT_EQ(readTree(temp / "plain"), tree);
}

// Text that deflates poorly: letters and blanks in no pattern, CR LF ends.
std::string looseText(std::size_t size) {
    std::string text;
    uint32_t state = 12345;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        const uint32_t pick = (state >> 16) % 40;
        text += pick < 26 ? static_cast<char>('a' + pick) : pick < 38 ? ' ' : '\r';
        if (text.back() == '\r') {
            text += '\n';
        }
    }
    return text;
}

// The same bytes get the same verdict however the entry is stored: an
// inflated AES entry comes out in pieces smaller than the start the guess
// reads, and a zero byte past the first piece still makes the entry binary.
// Backspaces are text, as the zip library reads them.
TEST(LineEnds, TheGuessReadsTheSameStartHoweverTheEntryIsStored) {
    const std::string lateZero = looseText(150 * 1024) + '\0' + "\r\nafter\r\n";
    const Tree tree{{"late-zero.dat", lateZero}, {"overstruck.txt", "_\bb_\bo_\bl_\bd\r\n"}};
    // Each tool takes the archive, then what to put in it.
    const std::vector<std::string> makers[] = {
        {"bsdtar", "--format=zip", "-cf"},
        {"7z", "a", "-bd", "-tzip", "-mx=0"},
        {"7z", "a", "-bd", "-tzip", "-psecret", "-mem=AES256"},
    };
    for (const auto& maker : makers) {
        const testsupport::TempDir temp;
        writeTree(temp / "source", tree);
        std::vector<std::string> command = maker;
        command.insert(command.end(), {temp / "p.zip", "late-zero.dat", "overstruck.txt"});
        runTool(command, temp / "source");
        UnzipCall call;
        call.options.translateLineEnds = 1;
        call.password = [](const std::string&) { return std::optional<std::string>("secret"); };
        const std::string name = maker.front() + " " + maker.back();
        ASSERT_EQ(call.run(temp / "p.zip", temp / "out"), UZP_OK) << name << ": " << call.printed;
        const Tree out = readTree(temp / "out");
        ASSERT_EQ(out.size(), 2u) << name;
        // Compared as a whole: the entry is too large to print.
        EXPECT_TRUE(out.at("late-zero.dat") == lateZero) << name << ": late-zero.dat was changed";
        EXPECT_EQ(out.at("overstruck.txt"), "_\bb_\bo_\bl_\bd\n") << name;
    }
}

TEST(Messages, QuietLevelsAndComment) {
    const testsupport::TempDir temp;
    writeTree(temp / "source", {{"a.txt", "a"}});
    const std::string commented = scriptArchive("commented", temp / "c.zip", temp / "source");
    const std::string hostile = scriptArchive("dotdot", temp / "h.zip");
    struct Level {
        int32_t quiet;
        bool lines;
    };
    for (const Level level :
         {Level{-3, true}, Level{0, true}, Level{1, false}, Level{2, false}, Level{9, false}}) {
        UnzipCall call;
        call.options.quietLevel = level.quiet;
        EXPECT_EQ(call.run(hostile, temp / "out"), UZP_UNSAFE_ENTRY);
        EXPECT_EQ(call.printed.find("inflating: ok.txt\n") != std::string::npos, level.lines)
            << level.quiet;
        const std::size_t refused = call.printed.find("error: ../escaped.txt: refused");
        EXPECT_NE(refused, std::string::npos);
        if (level.lines) {
            EXPECT_LT(call.printed.find("ok.txt"), refused) << "messages follow the entries' order";
        }
    }
    UnzipCall withComment;
    withComment.options.quietLevel = 2;
    withComment.options.displayComment = 1;
    ASSERT_EQ(withComment.run(commented, temp / "out"), UZP_OK);
    EXPECT_EQ(withComment.printed, "Morvane package\nsecond line\n");
    UnzipCall withoutComment;
    withoutComment.options.quietLevel = 2;
    ASSERT_EQ(withoutComment.run(commented, temp / "out"), UZP_OK);
    EXPECT_EQ(withoutComment.printed, "");
}

TEST(Selection, IncludeAndExcludePatterns) {
    const testsupport::TempDir temp;
    const std::string archive = zipTree(
        temp,
        {{"bin/App.EXE", "e"}, {"bin/lib.so", "l"}, {"docs/read me.txt", "r"}, {"Ä.txt", "u"}});
    struct Selection {
        std::vector<std::string> includes;
        std::vector<std::string> excludes;
        int32_t caseSensitive;
        std::set<std::string> files;
    };
    const Selection selections[] = {
        {{}, {}, 1, {"bin/App.EXE", "bin/lib.so", "docs/read me.txt", "Ä.txt"}},
        {{"bin/*"}, {}, 1, {"bin/App.EXE", "bin/lib.so"}},
        {{"*.exe"}, {}, 1, {}},
        {{"*.exe"}, {}, 0, {"bin/App.EXE"}},
        {{"*"}, {"*.txt"}, 1, {"bin/App.EXE", "bin/lib.so"}},
        {{"docs\\read?me.txt"}, {}, 1, {"docs/read me.txt"}},
        {{"ä.TXT"}, {}, 0, {"Ä.txt"}},
        {{"b*/*.so", "*me*"}, {"docs/*"}, 1, {"bin/lib.so"}},
    };
    for (const Selection& selection : selections) {
        fs::remove_all(temp / "out");
        UnzipCall call;
        call.includes = selection.includes;
        call.excludes = selection.excludes;
        call.options.caseSensitiveMatching = selection.caseSensitive;
        const int32_t result = call.run(archive, temp / "out");
        std::set<std::string> files;
        if (fs::exists(temp / "out")) {
            for (const auto& [name, content] : readTree(temp / "out")) {
                if (content != "<folder>") {
                    files.insert(name);
                }
            }
        }
        EXPECT_EQ(files, selection.files) << call.printed;
        EXPECT_EQ(result, selection.files.empty() ? UZP_NO_MATCH : UZP_OK) << call.printed;
    }
}

class AccessRights : public ::testing::Test {
protected:
    void SetUp() override { m_previousMask = umask(022); }
    void TearDown() override { umask(m_previousMask); }

    mode_t modeOf(const std::string& path) const {
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    }

    mode_t m_previousMask = 0;
};

TEST_F(AccessRights, PrivilegeLevelsRestoreWhatTheyPromise) {
    const testsupport::TempDir temp;
    writeTree(temp / "source", {{"run.sh", "#!/bin/sh\n"},
                                {"secret.txt", "s"},
                                {"setuid", "x"},
                                {"readonly.txt", "r"},
                                {"everyone.sh", "e"},
                                {"locked", "<folder>"},
                                {"locked/inside.txt", "i"}});
    chmod((temp / "source/run.sh").c_str(), 0750);
    chmod((temp / "source/secret.txt").c_str(), 0600);
    chmod((temp / "source/setuid").c_str(), 04755);
    chmod((temp / "source/readonly.txt").c_str(), 0444);
    chmod((temp / "source/everyone.sh").c_str(), 0777);
    chmod((temp / "source/locked").c_str(), 0555);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown((temp / "source/secret.txt").c_str(), 1234, 5678), 0);
    }
    packFolder(temp / "source", temp / "p.zip");
    const timespec stamp{1700000000, 0};
    const timespec times[2] = {stamp, stamp};
    utimensat(AT_FDCWD, (temp / "source/run.sh").c_str(), times, 0);

    UnzipCall restored;
    ASSERT_EQ(restored.run(temp / "p.zip", temp / "level0"), UZP_OK) << restored.printed;
    EXPECT_EQ(modeOf(temp / "level0/run.sh"), 0750u);
    EXPECT_EQ(modeOf(temp / "level0/secret.txt"), 0600u);
    EXPECT_EQ(modeOf(temp / "level0/setuid"), 0755u) << "set-user-ID is never restored";
    // The umask limits what was recorded, and the owner can always replace
    // or remove what was extracted.
    EXPECT_EQ(modeOf(temp / "level0/everyone.sh"), 0755u);
    EXPECT_EQ(modeOf(temp / "level0/readonly.txt"), 0644u);
    EXPECT_EQ(modeOf(temp / "level0/locked"), 0755u);
    EXPECT_EQ(testsupport::readFile(temp / "level0/locked/inside.txt"), "i");

    UnzipCall ignored;
    ignored.options.privilegeLevel = -1;
    ASSERT_EQ(ignored.run(temp / "p.zip", temp / "ignored"), UZP_OK) << ignored.printed;
    EXPECT_EQ(modeOf(temp / "ignored/run.sh"), 0644u);
    EXPECT_EQ(modeOf(temp / "ignored/locked"), 0755u);

    if (!root) {
        return;
    }
    struct stat plain {};
    ASSERT_EQ(stat((temp / "level0/secret.txt").c_str(), &plain), 0);
    EXPECT_EQ(plain.st_uid, 0u);
    UnzipCall owners;
    owners.options.privilegeLevel = 1;
    ASSERT_EQ(owners.run(temp / "p.zip", temp / "level1"), UZP_OK) << owners.printed;
    struct stat owned {};
    ASSERT_EQ(stat((temp / "level1/secret.txt").c_str(), &owned), 0);
    EXPECT_EQ(owned.st_uid, 1234u);
    EXPECT_EQ(owned.st_gid, 5678u);
}

TEST(Times, ModificationTimesAreRestored) {
    const testsupport::TempDir temp;
    writeTree(temp / "source", {{"f.txt", "f"}, {"d", "<folder>"}, {"d/g.txt", "g"}});
    const timespec stamp{1600000001, 0};
    const timespec times[2] = {stamp, stamp};
    for (const char* name : {"f.txt", "d/g.txt", "d"}) {
        utimensat(AT_FDCWD, (temp / "source/" + name).c_str(), times, 0);
    }
    packFolder(temp / "source", temp / "p.zip");
    UnzipCall call;
    ASSERT_EQ(call.run(temp / "p.zip", temp / "out"), UZP_OK) << call.printed;
    for (const char* name : {"f.txt", "d/g.txt", "d"}) {
        struct stat st {};
        ASSERT_EQ(stat((temp / "out/" + name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, 1600000001) << name;
    }
}

TEST(Service, CallbackCanStopTheJobAndTotalsAreFilled) {
    const testsupport::TempDir temp;
    const std::string archive =
        orderedArchive(temp, {{"1.txt", "one"}, {"2.txt", "two"}, {"3.txt", "3"}});
    UnzipCall all;
    ASSERT_EQ(all.run(archive, temp / "all"), UZP_OK);
    EXPECT_EQ(all.serviced, (std::vector<std::string>{"1.txt", "2.txt", "3.txt"}));
    EXPECT_EQ(all.callbacks.entriesProcessed, 3u);
    EXPECT_EQ(all.callbacks.totalUncompressedBytes, 7u);
    EXPECT_EQ(all.callbacks.entriesFailed, 0);

    UnzipCall stopped;
    stopped.stopAtEntry = "2.txt";
    EXPECT_EQ(stopped.run(archive, temp / "stopped"), UZP_STOPPED_BY_CALLER);
    EXPECT_EQ(readTree(temp / "stopped"), (Tree{{"1.txt", "one"}}));
    EXPECT_EQ(stopped.callbacks.entriesProcessed, 1u);
}

} // namespace
} // namespace unzip32test
