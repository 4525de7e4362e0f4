// The installed files an update takes instead of fetching: only a regular
// file of the listed size and SHA-256, and only while it is still the file
// that was hashed.
#include "fetch/InstalledFiles.h"

#include "delta/FileChunks.h"
#include "delta/Sha256.h"
#include "fileio/Reading.h"
#include "fileio/SystemCalls.h"
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string listed = "readme.txt";
const std::string content = "the listed bytes of the file";

struct Installation {
    testsupport::TempDir root;
    std::string folder = root / "Morvane";
    std::string path = folder + "/" + listed;
    std::function<void()> pump = [] {};
    updater::InstalledFiles files{folder, [](const std::string& p) { return p; },
                                  [this] { pump(); }};

    Installation() {
        testsupport::TempDir::makeFolder(folder);
        testsupport::writeFile(path, content);
    }
    bool holds() { return files.holds(listed, content.size(), delta::sha256Of(content)); }
    updater::Outcome<void> take() const { return files.take(listed, root / "taken", 0644); }
};

// The same bytes under the same name, but another file.
void replaceWithCopy(const std::string& path) {
    const std::string copy = path + ".new";
    testsupport::writeFile(copy, testsupport::readFile(path));
    std::filesystem::rename(copy, path);
}

// Opening the file fails as a file the user may not read does.
fileio::SystemCalls unreadable(const std::string& path) {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const auto realOpen = calls.open;
    calls.open = [path, realOpen](const char* name, int flags, mode_t mode) {
        if (name == path) {
            errno = EACCES;
            return -1;
        }
        return realOpen(name, flags, mode);
    };
    return calls;
}

struct HeldCase {
    const char* name;
    std::function<void(Installation&)> apply;
};

const std::vector<HeldCase> notHeld = {
    {"Missing", [](Installation& i) { std::filesystem::remove(i.path); }},
    {"OtherBytes",
     [](Installation& i) { testsupport::writeFile(i.path, std::string(content.size(), 'x')); }},
    {"OtherSize", [](Installation& i) { testsupport::writeFile(i.path, content + "!"); }},
    {"LinkToTheFile",
     [](Installation& i) {
         std::filesystem::rename(i.path, i.root / "elsewhere");
         std::filesystem::create_symlink(i.root / "elsewhere", i.path);
     }},
    {"Folder",
     [](Installation& i) {
         std::filesystem::remove(i.path);
         std::filesystem::create_directory(i.path);
     }},
    {"Fifo",
     [](Installation& i) {
         std::filesystem::remove(i.path);
         ASSERT_EQ(::mkfifo(i.path.c_str(), 0644), 0);
     }},
};

class NotHeld : public ::testing::TestWithParam<HeldCase> {};

TEST_P(NotHeld, IsNeitherHeldNorTaken) {
    Installation installation;
    GetParam().apply(installation);
    EXPECT_FALSE(installation.holds());
    EXPECT_FALSE(installation.take());
    EXPECT_FALSE(testsupport::exists(installation.root / "taken"));
}

INSTANTIATE_TEST_SUITE_P(Files, NotHeld, ::testing::ValuesIn(notHeld), testsupport::CaseName());

TEST(InstalledFiles, AnUnreadableFileIsNotHeld) {
    Installation installation;
    fileio::ReplacedSystemCalls calls(unreadable(installation.path));
    EXPECT_FALSE(installation.holds());
}

TEST(InstalledFiles, TakesTheHashedFileWithExactlyTheMode) {
    Installation installation;
    ASSERT_TRUE(installation.holds());
    const std::string to = installation.root / "taken";
    ASSERT_TRUE(installation.files.take(listed, to, 0751));
    EXPECT_EQ(testsupport::readFile(to), content);
    struct stat status {};
    ASSERT_EQ(::stat(to.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0751U);
}

struct ChangeAfterHashing {
    const char* name;
    std::function<void(const std::string& path)> change;
};

const std::vector<ChangeAfterHashing> changes = {
    {"ReplacedBySameBytes", replaceWithCopy},
    {"Removed", [](const std::string& path) { std::filesystem::remove(path); }},
};

class ChangedWhileRead : public ::testing::TestWithParam<ChangeAfterHashing> {};

// Changed while the update read the installation (here, as soon as holds
// opened it): what take would put in the temp folder is not what was hashed.
TEST_P(ChangedWhileRead, IsNotTaken) {
    Installation installation;
    bool changed = false;
    installation.pump = [&] {
        if (!changed) {
            changed = true;
            GetParam().change(installation.path);
        }
    };
    ASSERT_TRUE(installation.holds());
    ASSERT_TRUE(changed);
    EXPECT_FALSE(installation.take());
    EXPECT_FALSE(testsupport::exists(installation.root / "taken"));
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangedWhileRead, ::testing::ValuesIn(changes),
                         testsupport::CaseName());

// Bytes that cut into many chunks.
std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 2654435761U) >> 13);
    }
    return bytes;
}

// The chunks a chunk map lists for bytes.
std::vector<delta::MapChunk> chunksOf(const std::string& bytes, const std::string& folder) {
    const std::string path = folder + "/cut.bin";
    testsupport::writeFile(path, bytes);
    struct stat status {};
    const fileio::UniqueFd file = fileio::openRegularFile(path, status, fileio::LastLink::refuse);
    std::vector<delta::MapChunk> chunks;
    delta::cutOpenFile(file.get(), path, zipformat::ChunkSizes{},
                       [&](std::uint64_t, std::uint64_t size, const delta::Sha256& sha256) {
                           chunks.push_back({size, 0, delta::chunkDigestOf(sha256)});
                       });
    return chunks;
}

// A file cut while it is hashed is the listed one only when its SHA-256 is;
// its chunks tell early when it is not.
struct CutHoldCase {
    const char* name;
    std::function<void(std::string&)> changeInstalled;
    std::function<void(std::vector<delta::MapChunk>&)> changeListed;
    bool held;
};

class CutHold : public ::testing::TestWithParam<CutHoldCase> {};

TEST_P(CutHold, HoldsOnlyTheListedFile) {
    const CutHoldCase& c = GetParam();
    Installation installation;
    const std::string wanted = patterned(400'000);
    std::string installed = wanted;
    c.changeInstalled(installed);
    testsupport::writeFile(installation.path, installed);
    std::vector<delta::MapChunk> chunks = chunksOf(wanted, installation.root.path());
    ASSERT_GT(chunks.size(), 2u);
    c.changeListed(chunks);
    installation.files.cutWhenHashing({{listed, chunks}}, zipformat::ChunkSizes{});
    EXPECT_EQ(installation.files.holds(listed, wanted.size(), delta::sha256Of(wanted)), c.held);
    // Whatever it held, its chunks serve the update.
    EXPECT_TRUE(installation.files.chunks(listed, zipformat::ChunkSizes{}));
}

const std::vector<CutHoldCase> cutHolds = {
    {"TheListedFile", [](std::string&) {}, [](std::vector<delta::MapChunk>&) {}, true},
    {"AByteChangedInTheMiddle", [](std::string& bytes) { bytes[bytes.size() / 2] ^= 1; },
     [](std::vector<delta::MapChunk>&) {}, false},
    {"TheLastByteChanged", [](std::string& bytes) { bytes.back() ^= 1; },
     [](std::vector<delta::MapChunk>&) {}, false},
    // A map that lists other chunks than the file's cut: the file's own
    // SHA-256 is never taken, and fetching what it lacks costs bytes only.
    {"AMapOfOtherChunks", [](std::string&) {},
     [](std::vector<delta::MapChunk>& chunks) { chunks[1].digest[0] ^= 1; }, false},
    {"AMapShortOfAChunk", [](std::string&) {},
     [](std::vector<delta::MapChunk>& chunks) { chunks.pop_back(); }, false},
};

INSTANTIATE_TEST_SUITE_P(Files, CutHold, ::testing::ValuesIn(cutHolds), testsupport::CaseName());

// The chunks cut while hashing serve only the file they were cut from: one
// put in its place since is cut again.
TEST(InstalledFiles, CutsAReplacedFileAgain) {
    Installation installation;
    const zipformat::ChunkSizes sizes{};
    const std::string before = patterned(300'000);
    std::string after = before;
    after.replace(0, 5, "other");
    testsupport::writeFile(installation.path, before);
    installation.files.cutWhenHashing({{listed, chunksOf(before, installation.root.path())}},
                                      sizes);
    ASSERT_TRUE(installation.files.holds(listed, before.size(), delta::sha256Of(before)));
    testsupport::writeFile(installation.path + ".new", after);
    std::filesystem::rename(installation.path + ".new", installation.path);

    const auto chunks = installation.files.chunks(listed, sizes);

    ASSERT_TRUE(chunks);
    struct stat status {};
    const fileio::UniqueFd fresh =
        fileio::openRegularFile(installation.path, status, fileio::LastLink::refuse);
    const delta::HeldChunks expected =
        delta::chunksOfOpenFile(fresh.get(), installation.path, sizes, [] {});
    ASSERT_EQ(chunks->held.size(), expected.size());
    for (const auto& [digest, chunk] : expected) {
        const auto found = chunks->held.find(digest);
        ASSERT_NE(found, chunks->held.end());
        EXPECT_EQ(found->second.offset, chunk.offset);
        EXPECT_EQ(found->second.size, chunk.size);
    }
    EXPECT_FALSE(installation.files.chunks("missing.bin", sizes));
}

} // namespace
