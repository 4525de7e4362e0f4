// A disk too small for what a job writes stops it before the first file,
// with the full disk's code and a sentence saying how much is needed, and a
// job that fits runs: a real small file system (as root; tests/unzip32_seam
// fails the writes part way instead, to show a disk that fills during the
// job).
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "unzip32test/FullDiskCase.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
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

// The packed files' time; a file on the disk is a year older or newer.
constexpr std::time_t packedTime = 1717243200;
constexpr std::time_t aYear = 365 * 24 * 3600;

// A file's bytes, incompressible, one content per name and version.
std::string content(const std::string& name, const std::string& version, std::size_t kib) {
    std::string bytes(kib * 1024, '\0');
    std::mt19937 random(static_cast<unsigned>(std::hash<std::string>{}(name + version)));
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

struct SizedFile {
    std::string name;
    std::size_t kib;
    // Against packedTime: a file on the disk older (negative) or newer.
    std::time_t age = -aYear;
};

struct RoomCase {
    const char* name;
    // The archive's files, all stored; none: the 3 MiB archive of the
    // full-disk tests.
    std::vector<SizedFile> packed;
    // The files on the 1 MiB disk before the job (an older release).
    std::vector<SizedFile> present;
    enum { overwrite, freshen, updateNewer, neverOverwrite } job;
    int32_t code = UZP_OK;
    // Said when the job does not fit ("DISK" stands for the disk's folder).
    std::string printed;
    // The files the job puts in place; the others stay as they were.
    std::vector<std::string> replaced;
};

void setModified(const std::string& path, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void PrintTo(const RoomCase& c, std::ostream* out) {
    *out << c.name;
}

// Which version of each file the disk holds: "old", "new" or "torn".
std::map<std::string, std::string> versionsOn(const std::string& disk, const RoomCase& c) {
    std::map<std::string, std::string> versions;
    for (const auto& [name, bytes] : readTree(disk)) {
        if (bytes == "<folder>") {
            continue;
        }
        versions[name] = "torn";
        const auto holds = [&](const std::vector<SizedFile>& files, const char* version) {
            for (const SizedFile& file : files) {
                if (file.name == name && bytes == content(name, version, file.kib)) {
                    versions[name] = version;
                }
            }
        };
        holds(c.present, "old");
        holds(c.packed, "new");
    }
    return versions;
}

// Each file as present, or as packed where the job replaces or adds it.
std::map<std::string, std::string> expectedVersions(const RoomCase& c) {
    std::map<std::string, std::string> versions;
    for (const SizedFile& file : c.present) {
        versions[file.name] = "old";
    }
    for (const std::string& name : c.replaced) {
        versions[name] = "new";
    }
    return versions;
}

std::string withDisk(std::string text, const std::string& disk) {
    if (const std::size_t at = text.find("DISK"); at != std::string::npos) {
        text.replace(at, 4, disk);
    }
    return text;
}

class Room : public testing::TestWithParam<RoomCase> {};

TEST_P(Room, CountsOnlyWhatTheJobWrites) {
    const RoomCase& c = GetParam();
    const testsupport::TempDir temp;
    std::string archive;
    if (c.packed.empty()) {
        archive = fullDiskArchive(temp.path());
    } else {
        for (const SizedFile& file : c.packed) {
            writeTree(temp / "source", {{file.name, content(file.name, "new", file.kib)}});
            setModified(temp / ("source/" + file.name), packedTime);
        }
        archive = scriptArchive("stored", temp / "p.zip", temp / "source");
    }
    const std::string disk = temp / "small";
    const SmallDisk mounted(disk);
    if (!mounted.mounted()) {
        GTEST_SKIP() << "needs root and a private mount namespace";
    }
    for (const SizedFile& file : c.present) {
        writeTree(disk, {{file.name, content(file.name, "old", file.kib)}});
        setModified(disk + "/" + file.name, packedTime + file.age);
    }

    UnzipCall call;
    call.options.freshenExisting = c.job == RoomCase::freshen ? 1 : 0;
    call.options.extractOnlyNewer = c.job == RoomCase::updateNewer ? 1 : 0;
    call.options.overwriteExisting = c.job == RoomCase::neverOverwrite ? 0 : 1;
    EXPECT_EQ(call.run(archive, disk), c.code) << call.printed;
    EXPECT_EQ(versionsOn(disk, c), expectedVersions(c));
    EXPECT_NE(call.printed.find(withDisk(c.printed, disk)), std::string::npos) << call.printed;
}

// Each file below is 200 KiB but where said, and the three present take 600
// KiB of the disk's 1024, leaving 424 free.
const std::vector<SizedFile> threePresent{{"a.bin", 200}, {"b.bin", 200}, {"c.bin", 200}};
const std::vector<SizedFile> threePacked = threePresent;
const std::vector<SizedFile> fourPacked{
    {"a.bin", 200}, {"b.bin", 200}, {"c.bin", 200}, {"d.bin", 200}};

INSTANTIATE_TEST_SUITE_P(
    Jobs, Room,
    testing::Values(
        RoomCase{"NothingThereNeedsEveryFile",
                 {},
                 {},
                 RoomCase::overwrite,
                 UZP_DISK_FULL,
                 "unpacking the archive needs 4 MB, more than the disk that holds DISK can hold "
                 "(1 MB in all)",
                 {}},
        RoomCase{"FreshenWithNothingThereWritesNothing", {}, {}, RoomCase::freshen, UZP_OK, "", {}},
        // A file is written beside the one it replaces, then renamed over it.
        RoomCase{"OverwriteOverTheSameSizesNeedsTheLargest",
                 threePacked,
                 threePresent,
                 RoomCase::overwrite,
                 UZP_OK,
                 "",
                 {"a.bin", "b.bin", "c.bin"}},
        RoomCase{"FreshenLeavesOutWhatIsNotThere",
                 fourPacked,
                 threePresent,
                 RoomCase::freshen,
                 UZP_OK,
                 "",
                 {"a.bin", "b.bin", "c.bin"}},
        RoomCase{"UpdateNewerLeavesOutWhatIsNewerThere",
                 fourPacked,
                 {{"a.bin", 200}, {"b.bin", 200, aYear}, {"c.bin", 200, aYear}},
                 RoomCase::updateNewer,
                 UZP_OK,
                 "",
                 {"a.bin", "d.bin"}},
        RoomCase{"NeverOverwriteLeavesOutWhatIsThere",
                 fourPacked,
                 threePresent,
                 RoomCase::neverOverwrite,
                 UZP_OK,
                 "",
                 {"d.bin"}},
        // What a.bin and b.bin grew by stays while c.bin is written beside
        // its old self: 100 + 100 + 300 KiB, where the growth alone (300)
        // or the largest file (300) would let the job start and fill the
        // disk.
        // A folder still to be made holds nothing to replace, one that is
        // there does: o/b.bin adds nothing, so p/two.bin fits beside it.
        RoomCase{"FolderStillToBeMadeHidesNoFileOfAnother",
                 {{"m/one.bin", 100}, {"o/b.bin", 400}, {"p/two.bin", 200}},
                 {{"o/b.bin", 400}},
                 RoomCase::overwrite,
                 UZP_OK,
                 "",
                 {"m/one.bin", "o/b.bin", "p/two.bin"}},
        RoomCase{"OverwriteWithGrownFilesDoesNotFit",
                 {{"a.bin", 300}, {"b.bin", 300}, {"c.bin", 300}},
                 threePresent,
                 RoomCase::overwrite,
                 UZP_DISK_FULL,
                 "unpacking the archive needs 512 KB on DISK, 434 KB are free",
                 {}}),
    testsupport::CaseName{});

} // namespace
} // namespace unzip32test
