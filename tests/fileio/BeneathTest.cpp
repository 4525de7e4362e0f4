// A folder reached below another without passing through a link, the same
// with the kernel's openat2 and with the walk that stands in for it where
// the kernel has none.
#include "fileio/Beneath.h"
#include "fileio/SystemCalls.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct BeneathCase {
    const char* path;
    int error; // 0: opened
};

class OpenFolderBeneath : public testing::TestWithParam<bool> {
protected:
    OpenFolderBeneath() {
        const std::string top = dir.path();
        mkdir((top + "/inside").c_str(), 0755);
        mkdir((top + "/inside/a").c_str(), 0755);
        mkdir((top + "/inside/a/b").c_str(), 0755);
        mkdir((top + "/outside").c_str(), 0755);
        testsupport::writeFile(top + "/inside/file", "x");
        symlink("../outside", (top + "/inside/out").c_str());
        symlink("b", (top + "/inside/a/near").c_str());
        folder = open((top + "/inside").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (!GetParam()) {
            fileio::SystemCalls calls = fileio::realSystemCalls();
            calls.openat2 = [](int, const char*, int, std::uint64_t) {
                errno = ENOSYS;
                return -1;
            };
            oldKernel.emplace(calls);
        }
    }
    ~OpenFolderBeneath() override { close(folder); }

    testsupport::TempDir dir;
    int folder = -1;
    std::optional<fileio::ReplacedSystemCalls> oldKernel;
};

TEST_P(OpenFolderBeneath, OpensFoldersBelowAndNothingThroughALink) {
    const BeneathCase cases[] = {
        {"", 0},
        {"a", 0},
        {"a/b", 0},
        {"missing", ENOENT},
        {"a/missing/b", ENOENT},
        {"file", ENOTDIR},
        {"file/x", ENOTDIR},
        // A link leads nowhere, even to a folder just beside it.
        {"out", ELOOP},
        {"out/x", ELOOP},
        {"a/near", ELOOP},
        // Paths that are not relative and direct.
        {"/", EXDEV},
        {"/tmp", EXDEV},
        {"..", EXDEV},
        {"../outside", EXDEV},
        {"a/../a", EXDEV},
        {".", EXDEV},
        {"a//b", EXDEV},
        {"a/", EXDEV},
    };
    for (const BeneathCase& c : cases) {
        errno = 0;
        const fileio::UniqueFd opened = fileio::openFolderBeneath(folder, c.path);
        EXPECT_EQ(opened ? 0 : errno, c.error) << '"' << c.path << '"';
        if (opened) {
            struct stat status {};
            EXPECT_EQ(fstat(opened.get(), &status), 0);
            EXPECT_TRUE(S_ISDIR(status.st_mode)) << c.path;
            // Opened for reading, so that its names can be synced.
            EXPECT_EQ(fsync(opened.get()), 0) << c.path;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, OpenFolderBeneath, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& kernel) {
                             return kernel.param ? "WithOpenat2" : "WithoutOpenat2";
                         });

} // namespace
