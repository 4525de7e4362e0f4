// Opening a file to read without waiting: what is no longer a regular file,
// a FIFO above all, is refused at once and said for what it is.
#include "fileio/Reading.h"
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct OpeningCase {
    const char* name;
    // Makes the path to open in the folder and gives it.
    std::function<std::string(const testsupport::TempDir&)> make;
    bool opens;
    int error;        // when it does not open
    const char* kind; // what it is, when it is there and is no file
};

const OpeningCase openingCases[] = {
    {"RegularFile",
     [](const testsupport::TempDir& t) {
         testsupport::writeFile(t / "a.txt", "abc");
         return t / "a.txt";
     },
     true, 0, ""},
    // A FIFO without a writer: a blocking open would wait for ever.
    {"FifoWithoutAWriter",
     [](const testsupport::TempDir& t) {
         ::mkfifo((t / "pipe").c_str(), 0600);
         return t / "pipe";
     },
     false, EINVAL, "a FIFO"},
    {"Folder",
     [](const testsupport::TempDir& t) {
         testsupport::TempDir::makeFolder(t / "folder");
         return t / "folder";
     },
     false, EINVAL, "a folder"},
    {"Device", [](const testsupport::TempDir&) { return std::string("/dev/null"); }, false, EINVAL,
     "a device"},
    {"Missing", [](const testsupport::TempDir& t) { return t / "missing"; }, false, ENOENT, ""},
};

class OpeningToRead : public testing::TestWithParam<OpeningCase> {};

TEST_P(OpeningToRead, NeverWaitsAndKeepsOnlyARegularFile) {
    const testsupport::TempDir temp;
    const std::string path = GetParam().make(temp);
    ::alarm(30); // a test that would wait ends here
    struct stat status {};
    const fileio::UniqueFd fd = fileio::openRegularFile(path, status);
    const int error = errno;
    ::alarm(0);
    ASSERT_EQ(static_cast<bool>(fd), GetParam().opens);
    if (GetParam().opens) {
        EXPECT_TRUE(S_ISREG(status.st_mode));
        EXPECT_EQ(status.st_size, 3);
        EXPECT_EQ(::fcntl(fd.get(), F_GETFL) & O_NONBLOCK, 0) << "reads as any file";
        char bytes[4] = {};
        EXPECT_EQ(fileio::readSome(fd.get(), bytes, sizeof bytes), 3);
        return;
    }
    EXPECT_EQ(error, GetParam().error);
    if (*GetParam().kind == '\0') {
        EXPECT_EQ(status.st_mode, 0u);
    } else {
        EXPECT_STREQ(fileio::notAFileKind(status.st_mode), GetParam().kind);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, OpeningToRead, testing::ValuesIn(openingCases),
                         testsupport::CaseName{});

// A symbolic link in the last place opens what it names, unless refused.
TEST(OpeningToRead, FollowsALastLinkOnlyWhenAsked) {
    const testsupport::TempDir temp;
    testsupport::writeFile(temp / "a.txt", "abc");
    ASSERT_EQ(::symlink("a.txt", (temp / "link").c_str()), 0);
    struct stat status {};
    EXPECT_TRUE(fileio::openRegularFile(temp / "link", status));
    EXPECT_FALSE(fileio::openRegularFile(temp / "link", status, fileio::LastLink::refuse));
    EXPECT_EQ(errno, ELOOP);
}

} // namespace
