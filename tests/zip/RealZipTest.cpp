// MakeZipFile against the real zip library; what it builds is read back by
// our unzip library and by Python's zipfile.
#include "codemodule/CodeModuleState.h"
#include "testsupport/ScriptedToolkit.h"
#include "testsupport/TempDir.h"
#include "unzip/CGUnzipFiles.h"
#include "zip/CGZipFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

const std::string binaryBytes("\0\x01\xff\r\n\x80 binary", 14);

class RealZipLibrary : public ::testing::Test {
protected:
    RealZipLibrary() {
        CodeModule::useToolkit(ui);
        testsupport::TempDir::makeFolder(tree / "sub");
        testsupport::TempDir::makeFolder(tree / "sub/deep");
        writeFile(tree / "a.txt", "alpha\r\n");
        writeFile(tree / "sub/b.txt", "beta\n");
        writeFile(tree / "sub/deep/c.bin", binaryBytes);
        writeFile(tree / "run.sh", "#!/bin/sh\nexit 0\n");
        chmod((tree / "run.sh").c_str(), 0755);
    }

    // The tree's top entries, folders recursed, taken against its root.
    int32_t zipTree(const std::string& root) {
        CodeModule::setLibraryFolder(REAL_ZIP32_FOLDER);
        CGZipFiles zip;
        zip.ZipFileName(archive());
        zip.RootDirectory(root);
        zip.RecurseFolders(true);
        for (const char* name : {"a.txt", "sub", "run.sh"}) {
            zip.AddFile(name);
        }
        const int32_t result = zip.MakeZipFile();
        lastMessage = zip.GetLastMessage();
        return result;
    }

    std::string archive() const { return out / "package.zip"; }

    platform::ScriptedToolkit ui;
    testsupport::TempDir tree;
    testsupport::TempDir out;
    std::string lastMessage;
};

TEST_F(RealZipLibrary, OurUnzipLibraryReadsBackEveryFileWithItsFolders) {
    ASSERT_EQ(zipTree(tree.path()), 0) << lastMessage;
    EXPECT_FALSE(lastMessage.empty());

    CodeModule::setLibraryFolder(REAL_UNZIP32_FOLDER);
    CGUnzipFiles unzip;
    ASSERT_EQ(unzip.Unzip(archive(), out / "x"), 0) << unzip.GetLastMessage();
    EXPECT_EQ(readFile(out / "x/a.txt"), "alpha\r\n");
    EXPECT_EQ(readFile(out / "x/sub/b.txt"), "beta\n");
    EXPECT_EQ(readFile(out / "x/sub/deep/c.bin"), binaryBytes);
    struct stat st {};
    ASSERT_EQ(stat((out / "x/run.sh").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IXUSR, 0u);
}

TEST_F(RealZipLibrary, PythonsZipfileFindsTheNamesIntactAndExecutableBitKept) {
    // The root goes to the library upper-cased; the library finds it all the
    // same.
    ASSERT_EQ(zipTree(tree.path()), 0) << lastMessage;
    const std::string listing = out / "listing.txt";
    const std::string script = "import sys, zipfile\n"
                               "z = zipfile.ZipFile(sys.argv[1])\n"
                               "assert z.testzip() is None\n"
                               "for i in sorted(z.infolist(), key=lambda i: i.filename):\n"
                               "    x = 'x' if (i.external_attr >> 16) & 0o100 else '-'\n"
                               "    print(i.filename, i.file_size, x)\n";
    writeFile(out / "list.py", script);
    const std::string command =
        "python3 '" + out / "list.py" + "' '" + archive() + "' > '" + listing + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readFile(listing), "a.txt 7 -\n"
                                 "run.sh 17 x\n"
                                 "sub/ 0 x\n"
                                 "sub/b.txt 5 -\n"
                                 "sub/deep/ 0 x\n"
                                 "sub/deep/c.bin 14 -\n");
}

TEST_F(RealZipLibrary, ChunksOfTheLargeFilesComeBackAndAddUpToTheirEntries) {
    std::string large;
    for (int i = 0; large.size() < 300000; ++i) {
        large += "line " + std::to_string(i * 7919 % 100003) + " of the large file\n";
    }
    writeFile(tree / "sub/large.txt", large);
    CodeModule::setLibraryFolder(REAL_ZIP32_FOLDER);
    CGZipFiles zip;
    zip.ZipFileName(archive());
    zip.RootDirectory(tree.path());
    zip.RecurseFolders(true);
    zip.AddFile("sub");
    zip.smallestChunkedFile(100000);
    zip.chunkSizes({4096, 16384, 65536});
    ASSERT_EQ(zip.MakeZipFile(), 0) << zip.GetLastMessage();
    ASSERT_GT(zip.chunks().size(), 1u);
    uint64_t uncompressed = 0;
    for (const CodeModule::ZipChunk& chunk : zip.chunks()) {
        EXPECT_EQ(chunk.entryName, "sub/large.txt");
        uncompressed += chunk.uncompressedLength;
    }
    EXPECT_EQ(uncompressed, large.size());

    CodeModule::setLibraryFolder(REAL_UNZIP32_FOLDER);
    CGUnzipFiles unzip;
    ASSERT_EQ(unzip.Unzip(archive(), out / "x"), 0) << unzip.GetLastMessage();
    EXPECT_EQ(readFile(out / "x/sub/large.txt"), large);
}

TEST_F(RealZipLibrary, MissingRootIsTheLibrarysFailureWithItsMessage) {
    EXPECT_NE(zipTree(tree / "missing"), 0);
    EXPECT_FALSE(lastMessage.empty());
    EXPECT_FALSE(testsupport::exists(archive()));
}

} // namespace
