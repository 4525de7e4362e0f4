// The C boundary: a C program drives the library, the kept options are the
// library's own copies, and the messages follow the quiet and verbose flags.
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "zip32test/ZipHarness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace zip32test {
namespace {

TEST(Zip32Boundary, CProgramLoadsTheLibraryAndBuildsAnArchive) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"docs/a.txt", "a"}, {"docs/b/c.txt", "c"}});
    unzip32test::runTool(
        {ZIP32_C_CLIENT_PATH, ZIP32_LIBRARY_PATH, temp / "p.zip", temp / "root", "docs"});
    EXPECT_EQ(archiveEntries(temp / "p.zip"),
              (std::map<std::string, std::string>{{"docs/", "<folder>"},
                                                  {"docs/a.txt", "a"},
                                                  {"docs/b/", "<folder>"},
                                                  {"docs/b/c.txt", "c"}}));
}

TEST(Zip32Boundary, OptionsKeepTheirOwnCopiesOfTheTexts) {
    const ZipApi& api = loadedZipApi();
    auto date = std::make_unique<char[]>(16);
    auto root = std::make_unique<char[]>(16);
    std::strcpy(date.get(), "2024-05-06");
    std::strcpy(root.get(), "C:\\DATA");
    ZpOptions options{};
    options.verbose = 1;
    options.compressionLevel = '9';
    options.dateText = date.get();
    options.rootDirectory = root.get();
    ASSERT_EQ(api.setOptions(&options), ZP_OK);
    date.reset();
    root.reset();
    ZpOptions kept{};
    ASSERT_EQ(api.getOptions(&kept), ZP_OK);
    EXPECT_EQ(kept.verbose, 1);
    EXPECT_EQ(kept.compressionLevel, '9');
    EXPECT_EQ(kept.encryptionSupported, 1);
    EXPECT_STREQ(kept.dateText, "2024-05-06");
    EXPECT_STREQ(kept.rootDirectory, "C:\\DATA");
    options = ZpOptions{};
    ASSERT_EQ(api.setOptions(&options), ZP_OK);
    ASSERT_EQ(api.getOptions(&kept), ZP_OK);
    EXPECT_EQ(kept.rootDirectory, nullptr);
    EXPECT_EQ(api.setOptions(nullptr), ZP_NULL_POINTER);
    EXPECT_EQ(api.getOptions(nullptr), ZP_NULL_POINTER);
    EXPECT_EQ(api.init(nullptr), ZP_NULL_POINTER);
}

TEST(Zip32Boundary, MessagesFollowQuietAndVerbose) {
    const testsupport::TempDir temp;
    unzip32test::writeTree(temp / "root", {{"a.txt", std::string(1000, 'a')}});
    ZipCall call;
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"a.txt"}), ZP_OK);
    EXPECT_EQ(call.printed,
              "zip warning: querty: name not matched\n  adding: a.txt (deflated 99%)\n");
    call.options.verbose = 1;
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"a.txt"}), ZP_OK);
    EXPECT_NE(call.printed.find("updating: a.txt (in=1000) (out="), std::string::npos)
        << call.printed;
    EXPECT_NE(call.printed.find("total bytes=1000, compressed="), std::string::npos);
    call.options.verbose = 0;
    call.options.quiet = 1;
    ASSERT_EQ(call.run(temp / "p.zip", temp / "root", {"a.txt"}), ZP_OK);
    EXPECT_EQ(call.printed, "zip warning: querty: name not matched\n");
}

} // namespace
} // namespace zip32test
