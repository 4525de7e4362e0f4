// A full disk stops the job with its own code and leaves no partial file.
#include "ArchiveTools.h"
#include "UnzipHarness.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
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

TEST(DiskFull, StopsTheJobCleanly) {
    const testsupport::TempDir temp;
    std::string incompressible(3 * 1024 * 1024, '\0');
    std::mt19937 random(7);
    for (char& c : incompressible) {
        c = static_cast<char>(random());
    }
    writeTree(temp / "source", {{"a.txt", "first"}, {"b.bin", incompressible}, {"c.txt", "last"}});
    const std::string archive = scriptArchive("stored", temp / "p.zip", temp / "source");
    const SmallDisk disk(temp / "small");
    if (!disk.mounted()) {
        GTEST_SKIP() << "needs root and a private mount namespace";
    }
    UnzipCall call;
    EXPECT_EQ(call.run(archive, temp / "small"), UZP_DISK_FULL);
    EXPECT_EQ(readTree(temp / "small"), (Tree{{"a.txt", "first"}}));
    EXPECT_NE(call.printed.find("error: b.bin: cannot write the file: No space left on device"),
              std::string::npos)
        << call.printed;
    EXPECT_EQ(call.printed.find("c.txt"), std::string::npos) << "the job goes no further";
}

} // namespace
} // namespace unzip32test
