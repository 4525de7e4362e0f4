// A disk too small for the archive's files stops the job before the first of
// them, with the full disk's code and a sentence saying how much is needed:
// a real small file system (as root; tests/unzip32_seam fails the writes
// part way instead, to show a disk that fills during the job).
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "unzip32test/FullDiskCase.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace unzip32test {
namespace {

// A 1 MiB file system mounted in a mount namespace of this process only, so
// that nothing outside the test ever sees it.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& folder) : m_folder(folder) {
        std::filesystem::create_directories(folder);
        m_mounted = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                    mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    ~SmallDisk() {
        if (m_mounted) {
            umount2(m_folder.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }

private:
    std::string m_folder;
    bool m_mounted = false;
};

TEST(DiskFull, TooSmallStopsTheJobBeforeTheFirstFile) {
    const testsupport::TempDir temp;
    const std::string archive = fullDiskArchive(temp.path());
    const SmallDisk disk(temp / "small");
    if (!disk.mounted()) {
        GTEST_SKIP() << "needs root and a private mount namespace";
    }
    UnzipCall call;
    EXPECT_EQ(call.run(archive, temp / "small"), UZP_DISK_FULL);
    EXPECT_EQ(readTree(temp / "small"), Tree{});
    EXPECT_NE(call.printed.find("unpacking the archive needs 4 MB, more than the disk that "
                                "holds " +
                                temp / "small" + " can hold (1 MB in all)"),
              std::string::npos)
        << call.printed;
}

} // namespace
} // namespace unzip32test
