// The C boundary: a C program drives the library, and calls with null or
// out-of-range arguments get their documented codes without doing anything.
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "unzip32test/UnzipHarness.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstring>

namespace unzip32test {
namespace {

TEST(CBoundary, CProgramLoadsTheLibraryAndExtracts) {
    const testsupport::TempDir temp;
    writeTree(temp / "source", samplePackage());
    const std::string archive = scriptArchive("deflated", temp / "package.zip", temp / "source");
    runTool({UNZIP32_C_CLIENT_PATH, UNZIP32_LIBRARY_PATH, archive, temp / "out"});
    EXPECT_EQ(readTree(temp / "out"), samplePackage());
}

TEST(CBoundary, VersionRecordIsFilledOnlyWithTheRightLength) {
    UzpVersionRecord record;
    std::memset(&record, ' ', sizeof record);
    for (const uint32_t wrong : {0u, 44u, 63u, 65u, 68u}) {
        record.structureLength = wrong;
        EXPECT_EQ(unzipApi().version(&record), UZP_BAD_RECORD_LENGTH) << wrong;
        EXPECT_EQ(record.betaLevel[0], ' ') << "written despite a wrong length";
    }
    record.structureLength = sizeof record;
    ASSERT_EQ(unzipApi().version(&record), UZP_OK);
    EXPECT_EQ(record.unzipVersion.major, 1);
    EXPECT_STREQ(record.compressionLibraryVersion, zip_libzip_version());
    EXPECT_NE(record.flags & UZP_VERSION_FLAG_DECRYPTS, 0u);
    EXPECT_EQ(std::strlen(record.releaseDate), 10u);
    EXPECT_EQ(unzipApi().version(nullptr), UZP_NULL_POINTER);
}

TEST(CBoundary, RefusedArgumentsDoNothing) {
    const testsupport::TempDir temp;
    const std::string archive = scriptArchive("deflated", temp / "p.zip", [&] {
        writeTree(temp / "source", {{"a.txt", "a"}});
        return temp / "source";
    }());
    const std::string folder = temp / "out";
    UzpOptions options{};
    options.archivePath = archive.c_str();
    options.extractionFolder = folder.c_str();
    UzpCallbacks callbacks{};
    const char* const nullName[] = {"a.txt", nullptr};
    const auto& unzip = unzipApi().unzip;

    EXPECT_EQ(unzip(0, nullptr, 0, nullptr, nullptr, &callbacks), UZP_NULL_POINTER);
    EXPECT_EQ(unzip(0, nullptr, 0, nullptr, &options, nullptr), UZP_NULL_POINTER);
    EXPECT_EQ(unzip(1, nullptr, 0, nullptr, &options, &callbacks), UZP_NULL_POINTER);
    EXPECT_EQ(unzip(0, nullptr, 2, nullName, &options, &callbacks), UZP_NULL_POINTER);
    EXPECT_EQ(unzip(-1, nullptr, 0, nullptr, &options, &callbacks), UZP_BAD_ARGUMENT);
    EXPECT_EQ(unzip(0, nullptr, -5, nullptr, &options, &callbacks), UZP_BAD_ARGUMENT);
    options.promptBeforeOverwrite = 1;
    EXPECT_EQ(unzip(0, nullptr, 0, nullptr, &options, &callbacks), UZP_NULL_POINTER);
    options.promptBeforeOverwrite = 0;
    options.listContents = 1;
    EXPECT_EQ(unzip(0, nullptr, 0, nullptr, &options, &callbacks), UZP_NULL_POINTER);
    options.listContents = 0;
    options.archivePath = nullptr;
    EXPECT_EQ(unzip(0, nullptr, 0, nullptr, &options, &callbacks), UZP_NULL_POINTER);
    EXPECT_FALSE(testsupport::exists(folder));

    // Every callback may be left null for a plain extraction.
    options.archivePath = archive.c_str();
    EXPECT_EQ(unzip(0, nullptr, 0, nullptr, &options, &callbacks), UZP_OK);
    EXPECT_EQ(testsupport::readFile(temp / "out/a.txt"), "a");
}

} // namespace
} // namespace unzip32test
