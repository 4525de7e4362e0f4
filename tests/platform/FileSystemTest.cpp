#include "fileio/SystemCalls.h"
#include "platform/Error.h"
#include "platform/files/DiskFileSystem.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/TempDir.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using platform::ErrorNumber;
using testsupport::exists;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// The error number an action raises, or 0 when it raises none.
int32_t errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const platform::Error& e) {
        return e.number();
    }
    return 0;
}

mode_t modeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// While it lives, syncing a file's content (the last step before a copy's
// rename) does what the test says instead.
class SyncReplaced {
public:
    explicit SyncReplaced(std::function<int(int)> sync) : m_replaced(callsWith(std::move(sync))) {}

private:
    static fileio::SystemCalls callsWith(std::function<int(int)> sync) {
        fileio::SystemCalls calls = fileio::realSystemCalls();
        calls.fsync = std::move(sync);
        return calls;
    }
    fileio::ReplacedSystemCalls m_replaced;
};

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Case variants of one name and a Unicode name, below a lower-case
        // folder so that upper-casing the part of the path this test owns
        // changes nothing else.
        root = dir / "morvane app";
        for (const char* folder :
             {"", "/lib", "/lib/Plugins", "/DATA", "/Data", "/data", "/ärger"}) {
            std::filesystem::create_directory(root + folder);
        }
        writeFile(root + "/lib/Plugins/Tool.dll", "tool");
        writeFile(root + "/readme.txt", "old readme");
    }

    TempDir dir;
    std::string root;
    platform::DiskFileSystem fs;
};

TEST_F(FileSystemTest, ResolvesEveryExistingComponentWithoutRegardToCase) {
    const struct {
        std::string asked;
        std::string found;
    } cases[] = {
        {root + "/data", root + "/data"}, // exact match preferred
        {root + "/Data", root + "/Data"},
        {root + "/dAtA", root + "/DATA"},   // else first in byte order
        {root + "/ÄRGER", root + "/ärger"}, // Unicode letters fold too
        {dir.path() + upper(root.substr(dir.path().size())), root},
        {root + "\\LIB\\plugins\\TOOL.DLL", root + "/lib/Plugins/Tool.dll"},
        {root + "/LIB/New Folder/x.TXT", root + "/lib/New Folder/x.TXT"},
        {root + "/LIB/", root + "/lib/"},
        {root + "//lib", root + "/lib"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fs.resolve(c.asked), c.found) << c.asked;
    }
}

TEST_F(FileSystemTest, ExistenceChecksIgnoreCaseAndTellFilesFromFolders) {
    EXPECT_TRUE(fs.FolderExists(root + "\\LIB\\PLUGINS"));
    EXPECT_TRUE(fs.FolderExists(dir.path() + upper(root.substr(dir.path().size()))));
    EXPECT_FALSE(fs.FolderExists(root + "/readme.txt"));
    EXPECT_FALSE(fs.FolderExists(root + "/missing"));
    EXPECT_TRUE(fs.FileExists(root + "/README.TXT"));
    EXPECT_FALSE(fs.FileExists(root + "/lib"));
    EXPECT_FALSE(fs.FileExists(root + "/missing.txt"));
}

TEST_F(FileSystemTest, CreateFolderMakesOneFolderWithTheCaseGiven) {
    fs.CreateFolder(root + "\\LIB\\NewStuff");
    EXPECT_EQ(namesIn(root + "/lib"), (std::vector<std::string>{"NewStuff", "Plugins"}));
    EXPECT_EQ(errorOf([&] { fs.CreateFolder(root + "/no/such/parent"); }),
              ErrorNumber::pathNotFound);
    EXPECT_FALSE(exists(root + "/no"));
    // A case variant of an existing folder is that folder.
    EXPECT_EQ(errorOf([&] { fs.CreateFolder(root + "/LIB/PLUGINS"); }),
              ErrorNumber::fileAlreadyExists);
}

TEST_F(FileSystemTest, CopyIntoMissingFolderFailsWithoutCreatingIt) {
    EXPECT_EQ(errorOf([&] { fs.CopyFile(root + "/readme.txt", root + "/new/"); }),
              ErrorNumber::pathNotFound);
    EXPECT_FALSE(exists(root + "/new"));
}

TEST_F(FileSystemTest, CopyFailuresNameTheirCause) {
    writeFile(root + "/data/readme.txt", "keep");
    const struct {
        const char* name;
        std::function<void()> copy;
        int32_t number;
    } cases[] = {
        {"missing source", [&] { fs.CopyFile(root + "/nothing.txt", root + "/data/"); },
         ErrorNumber::fileNotFound},
        {"source is a folder", [&] { fs.CopyFile(root + "/lib", root + "/data/"); },
         ErrorNumber::fileNotFound},
        {"missing source folder", [&] { fs.CopyFile(root + "/gone/a.txt", root + "/data/"); },
         ErrorNumber::pathNotFound},
        {"no overwrite", [&] { fs.CopyFile(root + "/readme.txt", root + "/data/", false); },
         ErrorNumber::fileAlreadyExists},
        {"target is a folder", [&] { fs.CopyFile(root + "/readme.txt", root + "/lib"); },
         ErrorNumber::permissionDenied},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorOf(c.copy), c.number) << c.name;
    }
    EXPECT_EQ(readFile(root + "/data/readme.txt"), "keep");
}

// A replaced file keeps its own bits (an installed program stays runnable
// when the package recorded none); a new file takes the source's.
TEST_F(FileSystemTest, CopyReplacesTheExistingCaseVariantAndKeepsPermissionBits) {
    writeFile(root + "/lib/TOOL.SH", "old");
    chmod((root + "/lib/TOOL.SH").c_str(), 0751);
    writeFile(root + "/tool.sh", "#!/bin/sh\n");
    chmod((root + "/tool.sh").c_str(), 0640);
    fs.CopyFile(root + "\\tool.sh", root + "\\LIB\\");
    EXPECT_EQ(namesIn(root + "/lib"), (std::vector<std::string>{"Plugins", "TOOL.SH"}));
    EXPECT_EQ(readFile(root + "/lib/TOOL.SH"), "#!/bin/sh\n");
    EXPECT_EQ(modeOf(root + "/lib/TOOL.SH"), 0751u);
    // A destination without "/" names the new file itself.
    fs.CopyFile(root + "/tool.sh", root + "/data/renamed.sh");
    EXPECT_EQ(readFile(root + "/data/renamed.sh"), "#!/bin/sh\n");
    EXPECT_EQ(modeOf(root + "/data/renamed.sh"), 0640u);
}

// A target that is a second name of the source is left as it is (the same
// file, its inode and time kept); a symbolic link to the source is not the
// source, and is replaced by a copy.
TEST_F(FileSystemTest, CopyOntoASecondNameOfItsSourceLeavesIt) {
    writeFile(root + "/source.bin", "bytes");
    ASSERT_EQ(link((root + "/source.bin").c_str(), (root + "/data/same.bin").c_str()), 0);
    ASSERT_EQ(symlink((root + "/source.bin").c_str(), (root + "/data/link.bin").c_str()), 0);
    struct stat before {};
    ASSERT_EQ(stat((root + "/data/same.bin").c_str(), &before), 0);

    fs.CopyFile(root + "/source.bin", root + "/data/same.bin");
    fs.CopyFile(root + "/source.bin", root + "/data/link.bin");

    struct stat after {};
    ASSERT_EQ(stat((root + "/data/same.bin").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    struct stat link {};
    ASSERT_EQ(lstat((root + "/data/link.bin").c_str(), &link), 0);
    EXPECT_TRUE(S_ISREG(link.st_mode));
    EXPECT_EQ(readFile(root + "/data/link.bin"), "bytes");
}

// From a folder whose files are written no more (the update's temp folder),
// a copy is the file itself under a second name: nothing written again, the
// replaced file's bits kept. A file shared once already, one from another
// folder, or the same copy with the folder no longer shared is written, so
// that no two installed names are one file.
TEST_F(FileSystemTest, CopiesFromASharedFolderAreItsFilesThemselves) {
    const std::string temp = root + "/temp";
    std::filesystem::create_directory(temp);
    writeFile(temp + "/a.dll", "new a");
    chmod((temp + "/a.dll").c_str(), 0644);
    writeFile(temp + "/b.dll", "new b");
    writeFile(root + "/lib/a.dll", "old a");
    chmod((root + "/lib/a.dll").c_str(), 0755);
    const auto inode = [](const std::string& path) {
        struct stat status {};
        EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
        return status.st_ino;
    };
    // The room the copies need: a shared file's first copy writes nothing.
    fs.setSharedSources(temp);
    EXPECT_EQ(fs.sizeOfCopy(temp + "/a.dll", root + "/lib/"), 0u);
    EXPECT_EQ(fs.sizeOfCopy(temp + "/a.dll", root + "/data/"), 5u);
    EXPECT_EQ(fs.sizeOfCopy(root + "/readme.txt", root + "/data/"), 10u);
    // A target that already is its source: nothing to write.
    EXPECT_EQ(fs.sizeOfCopy(root + "/readme.txt", root + "/README.TXT"), 0u);
    const struct {
        std::string source;
        std::string target;
        bool shared; // the folder is shared while it is copied
        bool same;   // the target is the source's file
    } cases[] = {
        {temp + "/a.dll", root + "/lib/a.dll", true, true},
        // Shared once: the next copy of it is written.
        {temp + "/a.dll", root + "/data/a.dll", true, false},
        {root + "/readme.txt", root + "/data/readme.txt", true, false},
        {temp + "/b.dll", root + "/data/b.dll", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        fs.setSharedSources(c.shared ? temp : "");
        fs.CopyFile(c.source, c.target);
        EXPECT_EQ(readFile(c.target), readFile(c.source));
        EXPECT_EQ(inode(c.target) == inode(c.source), c.same);
    }
    fs.setSharedSources("");
    EXPECT_EQ(modeOf(root + "/lib/a.dll"), 0755u);
    EXPECT_EQ(namesIn(root + "/lib"), (std::vector<std::string>{"Plugins", "a.dll"}));
}

// A folder is read once and then remembered, but never past a change: a
// name the copies made and a case variant another program put there since
// are both found and replaced rather than doubled, and a name removed since
// is not found.
TEST_F(FileSystemTest, CopiesIntoOneFolderSeeEveryChangeOfIt) {
    const std::string lib = root + "/lib";
    writeFile(root + "/one.txt", "1");
    writeFile(root + "/ONE.TXT", "2");
    writeFile(root + "/two.txt", "3");
    fs.CopyFile(root + "/one.txt", lib + "/");
    fs.CopyFile(root + "/ONE.TXT", lib + "/");
    EXPECT_EQ(namesIn(lib), (std::vector<std::string>{"Plugins", "one.txt"}));
    EXPECT_EQ(readFile(lib + "/one.txt"), "2");
    // Another program's change between two copies.
    writeFile(lib + "/Two.Txt", "theirs");
    fs.CopyFile(root + "/two.txt", lib + "/");
    EXPECT_EQ(namesIn(lib), (std::vector<std::string>{"Plugins", "Two.Txt", "one.txt"}));
    EXPECT_EQ(readFile(lib + "/Two.Txt"), "3");
    // And a name another program removed is gone for the copies too.
    std::filesystem::remove(lib + "/one.txt");
    fs.CopyFile(root + "/ONE.TXT", lib + "/");
    EXPECT_EQ(namesIn(lib), (std::vector<std::string>{"ONE.TXT", "Plugins", "Two.Txt"}));
}

// A copy killed while its content is being written leaves nothing in the
// folder: the content has no name until it is complete.
TEST_F(FileSystemTest, CopyKilledBeforeItsRenameLeavesNoFile) {
    writeFile(root + "/data/readme.txt", "old content");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const SyncReplaced killed([](int) -> int { _exit(0); });
        platform::DiskFileSystem().CopyFile(root + "/readme.txt", root + "/data/");
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(namesIn(root + "/data"), (std::vector<std::string>{"readme.txt"}));
    EXPECT_EQ(readFile(root + "/data/readme.txt"), "old content");
}

// A copy killed in the instant between naming its file and the rename
// leaves that file behind; the next copy into the folder clears it away.
TEST_F(FileSystemTest, NextCopyRemovesWhatAKilledCopyLeftBehind) {
    writeFile(root + "/data/.readme.txt.replacing-Ab12Cd", "half");
    writeFile(root + "/data/.notes.txt.keep", "not ours");
    fs.CopyFile(root + "/readme.txt", root + "/data/other.txt");
    EXPECT_EQ(namesIn(root + "/data"), (std::vector<std::string>{".notes.txt.keep", "other.txt"}));
}

TEST_F(FileSystemTest, ReadOnlyTargetIsNotReplaced) {
    writeFile(root + "/data/readme.txt", "protected");
    chmod((root + "/data/readme.txt").c_str(), 0444);
    EXPECT_EQ(errorOf([&] { fs.CopyFile(root + "/readme.txt", root + "/data/"); }),
              ErrorNumber::permissionDenied);
    EXPECT_EQ(readFile(root + "/data/readme.txt"), "protected");
    EXPECT_EQ(namesIn(root + "/data"), (std::vector<std::string>{"readme.txt"}));
}

TEST_F(FileSystemTest, InterruptedCopyLeavesTheOldFileWholeAndNoTemporaryFile) {
    writeFile(root + "/data/readme.txt", "old content");
    std::vector<std::string> synced;
    {
        const SyncReplaced failing([&](int fd) {
            synced.push_back(testsupport::openFilePath(fd));
            errno = EIO;
            return -1;
        });
        EXPECT_EQ(errorOf([&] { fs.CopyFile(root + "/readme.txt", root + "/data/"); }),
                  ErrorNumber::pathFileAccess);
    }
    ASSERT_EQ(synced.size(), 1u);
    EXPECT_EQ(synced[0].rfind(root + "/data/", 0), 0u) << "written beside the target";
    EXPECT_EQ(readFile(root + "/data/readme.txt"), "old content");
    EXPECT_EQ(namesIn(root + "/data"), (std::vector<std::string>{"readme.txt"}));
}

TEST_F(FileSystemTest, WildcardsCopyEveryMatchingFile) {
    for (const char* name : {"a.dll", "B.DLL", "c.txt", "ab.dll"}) {
        writeFile(root + "/DATA/" + name, name);
    }
    fs.CopyFile(root + "/DATA/?.Dll", root + "/data");
    EXPECT_EQ(namesIn(root + "/data"), (std::vector<std::string>{"B.DLL", "a.dll"}));
    fs.CopyFile(root + "/DATA/*", root + "/Data/");
    EXPECT_EQ(namesIn(root + "/Data"),
              (std::vector<std::string>{"B.DLL", "a.dll", "ab.dll", "c.txt"}));
    EXPECT_EQ(readFile(root + "/Data/ab.dll"), "ab.dll");
    EXPECT_EQ(errorOf([&] { fs.CopyFile(root + "/DATA/*.exe", root + "/data/"); }),
              ErrorNumber::fileNotFound);
}

TEST_F(FileSystemTest, WildcardCopyChecksEveryTargetBeforeReplacingAny) {
    writeFile(root + "/DATA/a.dll", "new a");
    writeFile(root + "/DATA/b.dll", "new b");
    writeFile(root + "/data/a.dll", "old a");
    writeFile(root + "/data/b.dll", "old b");
    chmod((root + "/data/b.dll").c_str(), 0444);
    EXPECT_EQ(errorOf([&] { fs.CopyFile(root + "/DATA/*.dll", root + "/data/"); }),
              ErrorNumber::permissionDenied);
    EXPECT_EQ(readFile(root + "/data/a.dll"), "old a");
}

TEST_F(FileSystemTest, CopyOverRunningExecutableLeavesTheProcessRunning) {
    const std::string program = root + "/morvane.exe";
    fs.CopyFile("/bin/sleep", program);
    ASSERT_NE(modeOf(program) & S_IXUSR, 0u) << "execute bit kept";

    // The pipe closes on exec, so reading it to its end waits until the
    // program runs from the copied file.
    int started[2];
    ASSERT_EQ(pipe2(started, O_CLOEXEC), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(program.c_str(), program.c_str(), "600", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(started[1]);
    char byte = 0;
    ASSERT_EQ(read(started[0], &byte, 1), 0);
    close(started[0]);

    writeFile(root + "/new.exe", "new build");
    EXPECT_EQ(errorOf([&] { fs.CopyFile(root + "/new.exe", root + "/MORVANE.EXE"); }), 0);
    EXPECT_EQ(readFile(program), "new build");

    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "still running";
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST_F(FileSystemTest, DeleteFolderRefusesReadOnlyContentsAndRemovesNothing) {
    writeFile(root + "/lib/Plugins/locked.dll", "locked");
    for (const char* readOnly : {"/lib/Plugins/locked.dll", "/lib/Plugins"}) {
        const std::string path = root + readOnly;
        const mode_t before = modeOf(path);
        chmod(path.c_str(), before & ~mode_t{0222});
        EXPECT_EQ(errorOf([&] { fs.DeleteFolder(root); }), ErrorNumber::permissionDenied)
            << readOnly;
        EXPECT_EQ(readFile(root + "/readme.txt"), "old readme");
        EXPECT_EQ(readFile(root + "/lib/Plugins/Tool.dll"), "tool");
        chmod(path.c_str(), before);
    }
    chmod((root + "/lib/Plugins").c_str(), 0555);
    chmod((root + "/lib/Plugins/locked.dll").c_str(), 0444);
    fs.DeleteFolder(root + "/LIB", true);
    EXPECT_FALSE(exists(root + "/lib"));
}

TEST_F(FileSystemTest, DeleteFolderRemovesLinksWithoutFollowingThem) {
    std::filesystem::create_directory(dir / "outside");
    writeFile(dir / "outside/precious.txt", "precious");
    std::filesystem::create_directory_symlink(dir / "outside", root + "/data/link");
    writeFile(dir / "outside/locked.txt", "locked");
    chmod((dir / "outside/locked.txt").c_str(), 0444);

    fs.DeleteFolder(root + "/DATA");
    fs.DeleteFolder(root + "/data/");
    EXPECT_FALSE(exists(root + "/data"));
    EXPECT_EQ(readFile(dir / "outside/precious.txt"), "precious");
    EXPECT_EQ(errorOf([&] { fs.DeleteFolder(root + "/gone"); }), ErrorNumber::pathNotFound);
    EXPECT_EQ(errorOf([&] { fs.DeleteFolder(root + "/readme.txt"); }), ErrorNumber::pathNotFound);
}

} // namespace
