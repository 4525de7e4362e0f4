// Listing a folder straight from the kernel: every entry however many
// buffers they take, folders told from files and links, the whole folder
// again on a descriptor already read to its end, and a failure said by errno.
#include "fileio/FolderListing.h"
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>

namespace {

struct ListingCase {
    const char* name;
    // Fills the folder and gives what it holds, each name with whether it is a folder.
    std::function<std::map<std::string, bool>(const testsupport::TempDir&)> make;
};

const ListingCase listingCases[] = {
    {"Empty", [](const testsupport::TempDir&) { return std::map<std::string, bool>{}; }},
    {"FilesFoldersAndLinks",
     [](const testsupport::TempDir& t) {
         testsupport::writeFile(t / "file.txt", "abc");
         testsupport::TempDir::makeFolder(t / "sub");
         EXPECT_EQ(symlink("sub", (t / "link").c_str()), 0);
         return std::map<std::string, bool>{{"file.txt", false}, {"sub", true}, {"link", false}};
     }},
    {"MoreThanOneBufferHolds",
     [](const testsupport::TempDir& t) {
         std::map<std::string, bool> made;
         for (int i = 0; i < 300; ++i) {
             const std::string name = std::string(40, 'n') + std::to_string(i);
             testsupport::writeFile(t / name, "");
             made[name] = false;
         }
         return made;
     }},
};

class FolderListing : public testing::TestWithParam<ListingCase> {};

std::map<std::string, bool> asMap(const std::vector<fileio::FolderEntry>& entries) {
    std::map<std::string, bool> listed;
    for (const fileio::FolderEntry& entry : entries) {
        EXPECT_TRUE(listed.emplace(entry.name, entry.folder).second) << entry.name << " twice";
    }
    return listed;
}

TEST_P(FolderListing, GivesEveryEntryOnceWithItsKind) {
    const testsupport::TempDir temp;
    const auto made = GetParam().make(temp);

    const auto byPath = fileio::folderEntries(temp.path());
    ASSERT_TRUE(byPath);
    EXPECT_EQ(asMap(*byPath), made);

    // A descriptor already listed to its end lists the whole folder again.
    const int folder = open(temp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    for (int round = 0; round < 2; ++round) {
        const auto byDescriptor = fileio::folderEntries(folder);
        ASSERT_TRUE(byDescriptor);
        EXPECT_EQ(asMap(*byDescriptor), made) << "round " << round;
    }
    EXPECT_EQ(fcntl(folder, F_GETFD), FD_CLOEXEC) << "the caller's descriptor stays open";
    close(folder);

    const auto names = fileio::folderNames(temp.path());
    ASSERT_TRUE(names);
    EXPECT_EQ(names->size(), made.size());
}

INSTANTIATE_TEST_SUITE_P(Folders, FolderListing, testing::ValuesIn(listingCases),
                         testsupport::CaseName());

TEST(FolderListing, SaysWhyAFolderCannotBeListed) {
    const testsupport::TempDir temp;
    testsupport::writeFile(temp / "file.txt", "abc");
    const struct {
        std::string path;
        int error;
    } cases[] = {{temp / "missing", ENOENT}, {temp / "file.txt", ENOTDIR}};
    for (const auto& c : cases) {
        errno = 0;
        EXPECT_FALSE(fileio::folderEntries(c.path)) << c.path;
        EXPECT_EQ(errno, c.error) << c.path;
        errno = 0;
        EXPECT_FALSE(fileio::folderNames(c.path)) << c.path;
        EXPECT_EQ(errno, c.error) << c.path;
    }
}

} // namespace
