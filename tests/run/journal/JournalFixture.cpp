#include "JournalFixture.h"

#include "journal/JournalRecovery.h"
#include "platform/files/DiskFileSystem.h"
#include "run/ErrorLog.h"
#include "run/UpdateRun.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/TempDir.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>

using testsupport::writeFile;

namespace {

bool inJournal(const char* path) {
    return std::strstr(path, "/.updater-journal/") != nullptr;
}

bool within(const std::string& path, const std::string& folder) {
    return path == folder || path.starts_with(folder + "/");
}

// The path a call names relative to an open folder, whole.
std::string named(int folder, const char* name) {
    return folder == AT_FDCWD || name[0] == '/' ? name
                                                : testsupport::openFilePath(folder) + "/" + name;
}

// The system's calls, but a rename that caught takes (by failing with errno
// set, or by throwing) is not made.
fileio::SystemCalls renamesCaught(std::function<bool(const char* from, const char* to)> caught) {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const auto real = calls.renameat;
    calls.renameat = [real, caught](int fromFolder, const char* from, int toFolder,
                                    const char* to) {
        return caught(named(fromFolder, from).c_str(), named(toFolder, to).c_str())
                   ? -1
                   : real(fromFolder, from, toFolder, to);
    };
    return calls;
}

} // namespace

const std::string everyKind = "MOVE;morvane.exe;APP_PATH\r\n"
                              "MOVE;a.dll;APP_PATH\r\n"
                              "MAKEDIR;plugins;APP_PATH\r\n"
                              "MAKEDIR;deep;APP_PATH\\PLUGINS\r\n"
                              "MOVE;p.so;APP_PATH\\PLUGINS\\DEEP\r\n"
                              "MOVE;b.dll;APP_PATH\\DATA\r\n";

fileio::SystemCalls withoutSecondNames() {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const auto real = calls.linkat;
    calls.linkat = [real](int fromFolder, const char* from, int toFolder, const char* to,
                          int flags) {
        if (inJournal(to) && std::strncmp(from, "/proc/", 6) != 0) {
            errno = EPERM;
            return -1;
        }
        return real(fromFolder, from, toFolder, to, flags);
    };
    return calls;
}

fileio::SystemCalls keptFilesStuck(int error) {
    return renamesCaught([error](const char* from, const char*) {
        if (std::strstr(from, "/.updater-journal/kept-") == nullptr) {
            return false;
        }
        errno = error;
        return true;
    });
}

fileio::SystemCalls cutAtTheCommit() {
    return renamesCaught([](const char*, const char* to) {
        if (std::strstr(to, "/.updater-journal/complete") != nullptr) {
            throw Cut{};
        }
        return false;
    });
}

fileio::SystemCalls atTheProgramsPlace(int error) {
    return renamesCaught([error](const char* from, const char*) {
        if (!std::string_view(from).ends_with("/.updater-journal/program")) {
            return false;
        }
        if (error == 0) {
            throw Cut{};
        }
        errno = error;
        return true;
    });
}

fileio::SystemCalls readOnlyFolder(const std::string& folder, bool cutAtTheCopy) {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const fileio::SystemCalls real = calls;
    const auto refused = [](int error) {
        errno = error;
        return -1;
    };
    calls.open = [=](const char* path, int flags, mode_t mode) {
        const bool nameless = (flags & O_TMPFILE) == O_TMPFILE;
        if ((nameless || (flags & O_CREAT) != 0) &&
            within(nameless ? (std::string(path) + "/x").c_str() : path, folder)) {
            if (cutAtTheCopy) {
                throw Cut{};
            }
            return refused(EACCES);
        }
        return real.open(path, flags, mode);
    };
    calls.linkat = [=](int fromFolder, const char* from, int toFolder, const char* to, int flags) {
        if (within(from, folder) || within(to, folder)) {
            // A file of another owner cannot be linked; nothing can be
            // named in the folder.
            return refused(within(to, folder) ? EACCES : EPERM);
        }
        return real.linkat(fromFolder, from, toFolder, to, flags);
    };
    calls.renameat = [=](int fromFolder, const char* from, int toFolder, const char* to) {
        if (within(named(fromFolder, from), folder) || within(named(toFolder, to), folder)) {
            return refused(EACCES);
        }
        return real.renameat(fromFolder, from, toFolder, to);
    };
    calls.unlinkat = [=](int at, const char* name, int flags) {
        if (within(named(at, name), folder)) {
            return refused(EACCES);
        }
        return real.unlinkat(at, name, flags);
    };
    return calls;
}

JournalFixture::JournalFixture() {
    installed("morvane.exe", "old application", 0755);
    installed("a.dll", "old a", 0640);
    mkdir(app("data").c_str(), 0750);
    installed("data/keep.txt", "kept", 0600);
    symlink("morvane.exe", app("current").c_str());
    for (const char* name : {"morvane.exe", "a.dll", "b.dll", "p.so", "current"}) {
        writeFile(temp(name), std::string("new ") + name);
    }
}

void JournalFixture::installed(const std::string& name, const std::string& content, mode_t mode) {
    writeFile(app(name), content);
    chmod(app(name).c_str(), mode);
    const struct timespec longAgo[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, app(name).c_str(), longAgo, 0);
}

void JournalFixture::cutShort(const std::string& instructions) {
    writeFile(temp("updater.ini"), instructions);
    const fileio::ReplacedSystemCalls cut(cutAtTheCommit());
    EXPECT_THROW(form.processExtract(), Cut);
}

bool JournalFixture::recoverAt(const std::string& folder) {
    platform::ScriptedToolkit startUi;
    const updater::InstallationPaths paths(folder);
    platform::DiskFileSystem files;
    updater::ErrorLog log(startUi, paths.errorLog());
    return updater::noteRecovery(updater::recoverEarlierUpdate(paths, files), log);
}
