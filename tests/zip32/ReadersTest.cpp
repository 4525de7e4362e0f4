// What the library writes is read byte for byte by the common zip readers
// and by our own unzip library.
#include "ChunkedArchive.h"
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "unzip32test/UnzipHarness.h"
#include "zip32test/ZipHarness.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace zip32test {
namespace {

using unzip32test::readTree;
using unzip32test::runTool;
using unzip32test::Tree;

// A release tree: nested and empty folders, UTF-8 names, an empty file, a
// binary, an executable and text files with both line ends.
Tree releaseTree() {
    Tree tree = unzip32test::samplePackage();
    tree["bin/morvane.sh"] = "#!/bin/sh\necho morvane\n";
    tree["text"] = "<folder>";
    tree["text/windows.txt"] = "first\r\nsecond\r\n";
    tree["text/unix.txt"] = "first\nsecond\n";
    return tree;
}

// The release tree with files deflated in chunks: one deflated ahead, one
// deflated as the archive is written.
Tree chunkedTree() {
    Tree tree = releaseTree();
    tree["big"] = "<folder>";
    tree["big/text.txt"] = textLines(300000, "\n");
    tree["big/mixed.bin"] = textLines(9 << 19, "\n") + randomBytes(9 << 19, 8);
    return tree;
}

std::string builtArchive(const testsupport::TempDir& temp, ZipCall& call,
                         const Tree& tree = releaseTree()) {
    unzip32test::writeTree(temp / "release", tree);
    ::chmod((temp / "release/bin/morvane.sh").c_str(), 0755);
    call.options.recurseFolders = 1;
    const std::string archive = temp / "morvane.zip";
    EXPECT_EQ(call.run(archive, temp / "release", {"*"}), ZP_OK) << call.printed;
    return archive;
}

struct Reader {
    const char* name;
    // Extracts archive into folder (which exists).
    std::function<void(const std::string& archive, const std::string& folder)> extract;
    // Whether the reader restores permission bits.
    bool keepsModes;
};

const Reader readers[] = {
    {"PythonZipfile",
     [](const std::string& archive, const std::string& folder) {
         runTool({"python3", "-c",
                  "import sys, zipfile\n"
                  "z = zipfile.ZipFile(sys.argv[1])\n"
                  "assert z.testzip() is None\n"
                  "z.extractall(sys.argv[2])",
                  archive, folder});
     },
     false},
    {"Bsdtar",
     [](const std::string& archive, const std::string& folder) {
         runTool({"bsdtar", "-x", "-f", archive, "-C", folder});
     },
     true},
    {"SevenZip",
     [](const std::string& archive, const std::string& folder) {
         runTool({"7z", "t", archive});
         runTool({"7z", "x", "-y", "-o" + folder, archive});
     },
     true},
    {"Jar",
     [](const std::string& archive, const std::string& folder) {
         runTool({"jar", "xf", archive}, folder);
     },
     false},
    {"OurUnzipLibrary",
     [](const std::string& archive, const std::string& folder) {
         unzip32test::UnzipCall call;
         ASSERT_EQ(call.run(archive, folder), UZP_OK) << call.printed;
     },
     true},
};

class Readers : public testing::TestWithParam<Reader> {};

TEST_P(Readers, ReadWhatWeWriteByteForByte) {
    const testsupport::TempDir temp;
    ZipCall call;
    const std::string archive = builtArchive(temp, call);
    const std::string out = temp / "out";
    testsupport::TempDir::makeFolder(out);
    GetParam().extract(archive, out);
    EXPECT_EQ(readTree(out), releaseTree());
    if (GetParam().keepsModes) {
        struct stat status {};
        ASSERT_EQ(::stat((out + "/bin/morvane.sh").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0755u);
    }
}

TEST_P(Readers, ReadChunkedEntriesByteForByte) {
    const testsupport::TempDir temp;
    ZipCall call;
    call.chunking = testChunking(65536);
    const std::string archive = builtArchive(temp, call, chunkedTree());
    EXPECT_GT(chunksOf(call.chunks, "big/text.txt").size(), 1u);
    EXPECT_GT(chunksOf(call.chunks, "big/mixed.bin").size(), 1u);
    const std::string out = temp / "out";
    testsupport::TempDir::makeFolder(out);
    GetParam().extract(archive, out);
    EXPECT_TRUE(readTree(out) == chunkedTree());
}

INSTANTIATE_TEST_SUITE_P(Zip32, Readers, testing::ValuesIn(readers), testsupport::CaseName{});

TEST(Zip32Encryption, SevenZipOpensAesEntriesWithThePassword) {
    const testsupport::TempDir temp;
    ZipCall call;
    call.options.encryptEntries = 1;
    call.password = "s3cret pass";
    const std::string archive = builtArchive(temp, call);
    EXPECT_EQ(call.passwordAsks, 1);
    runTool({"7z", "x", "-y", "-ps3cret pass", "-o" + (temp / "out"), archive});
    EXPECT_EQ(readTree(temp / "out"), releaseTree());
    EXPECT_ANY_THROW(runTool({"7z", "t", "-pwrong", archive}));
}

TEST(Zip32Encryption, NoPasswordFailsAndWritesNothing) {
    const testsupport::TempDir temp;
    ZipCall call;
    call.options.encryptEntries = 1;
    unzip32test::writeTree(temp / "release", {{"a.txt", "a"}});
    EXPECT_EQ(call.run(temp / "p.zip", temp / "release", {"a.txt"}), ZP_NO_PASSWORD);
    call.password = "";
    EXPECT_EQ(call.run(temp / "p.zip", temp / "release", {"a.txt"}), ZP_NO_PASSWORD);
    EXPECT_FALSE(testsupport::exists(temp / "p.zip"));
    EXPECT_EQ(strayFiles(temp.path(), {"release"}), std::vector<std::string>{});
}

} // namespace
} // namespace zip32test
