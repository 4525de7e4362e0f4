#include "JournalInstallation.h"

#include "journal/JournalAttachment.h"
#include "testsupport/FailingWrites.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using testsupport::TempDir;

namespace {

// The path a call names relative to an open folder, whole.
std::string named(int folder, const char* name) {
    return folder == AT_FDCWD || name[0] == '/' ? name
                                                : testsupport::openFilePath(folder) + "/" + name;
}

bool inJournal(const std::string& path) {
    return path.find("/.updater-journal/") != std::string::npos;
}

fileio::SystemCalls quickSyncs() {
    fileio::SystemCalls calls = fileio::systemCalls();
    calls.fsync = [](int) { return 0; };
    calls.syncfs = [](int) { return 0; };
    return calls;
}

} // namespace

fileio::SystemCalls cutWhere(std::function<bool(const SeamCall&)> cutsAt) {
    using Kind = SeamCall::Kind;
    const fileio::SystemCalls in = fileio::systemCalls();
    const auto check = [cutsAt = std::move(cutsAt)](const SeamCall& call) {
        if (cutsAt(call)) {
            throw Cut{};
        }
    };
    fileio::SystemCalls calls = in;
    calls.open = [in, check](const char* path, int flags, mode_t mode) {
        check({Kind::open, path, {}});
        return in.open(path, flags, mode);
    };
    calls.openat = [in, check](int folder, const char* name, int flags, mode_t mode) {
        check({Kind::open, named(folder, name), {}});
        return in.openat(folder, name, flags, mode);
    };
    calls.openat2 = [in, check](int folder, const char* name, int flags, std::uint64_t resolve) {
        check({Kind::openBeneath, named(folder, name), {}});
        return in.openat2(folder, name, flags, resolve);
    };
    calls.write = [in, check](int fd, const void* data, std::size_t size) {
        check({Kind::write, testsupport::openFilePath(fd), {}});
        return in.write(fd, data, size);
    };
    calls.fsync = [in, check](int fd) {
        check({Kind::sync, testsupport::openFilePath(fd), {}});
        return in.fsync(fd);
    };
    calls.syncfs = [in, check](int fd) {
        check({Kind::sync, testsupport::openFilePath(fd), {}});
        return in.syncfs(fd);
    };
    calls.linkat = [in, check](int fromFolder, const char* from, int toFolder, const char* to,
                               int flags) {
        check({Kind::link, named(toFolder, to), named(fromFolder, from)});
        return in.linkat(fromFolder, from, toFolder, to, flags);
    };
    calls.renameat = [in, check](int fromFolder, const char* from, int toFolder, const char* to) {
        check({Kind::rename, named(toFolder, to), named(fromFolder, from)});
        return in.renameat(fromFolder, from, toFolder, to);
    };
    calls.unlinkat = [in, check](int folder, const char* name, int flags) {
        check({Kind::remove, named(folder, name), {}});
        return in.unlinkat(folder, name, flags);
    };
    calls.mkdirat = [in, check](int folder, const char* name, mode_t mode) {
        check({Kind::makeFolder, named(folder, name), {}});
        return in.mkdirat(folder, name, mode);
    };
    return calls;
}

fileio::SystemCalls secondNamesRefused(int error) {
    fileio::SystemCalls calls = fileio::systemCalls();
    calls.linkat = [real = calls.linkat, error](int fromFolder, const char* from, int toFolder,
                                                const char* to, int flags) {
        // A file written without a name is named through /proc: that is no
        // second name.
        if (inJournal(named(toFolder, to)) && !std::string_view(from).starts_with("/proc/")) {
            errno = error;
            return -1;
        }
        return real(fromFolder, from, toFolder, to, flags);
    };
    return calls;
}

fileio::SystemCalls keptFilesStuck(int error) {
    fileio::SystemCalls calls = fileio::systemCalls();
    calls.renameat = [real = calls.renameat, error](int fromFolder, const char* from, int toFolder,
                                                    const char* to) {
        if (named(fromFolder, from).find("/.updater-journal/kept-") != std::string::npos) {
            errno = error;
            return -1;
        }
        return real(fromFolder, from, toFolder, to);
    };
    return calls;
}

const Change replacedFile = [](platform::FileSystem& files, const Installation& at) {
    files.CopyFile(at.temp("morvane.exe"), at.app("morvane.exe"));
};
const Change replacedLink = [](platform::FileSystem& files, const Installation& at) {
    files.CopyFile(at.temp("current"), at.app("current"));
};
const Change addedFile = [](platform::FileSystem& files, const Installation& at) {
    files.CopyFile(at.temp("b.dll"), at.app("b.dll"));
};
const Change madeFolder = [](platform::FileSystem& files, const Installation& at) {
    files.CreateFolder(at.app("plugins"));
    files.CopyFile(at.temp("p.so"), at.app("plugins/p.so"));
};
const Change ownProgram = [](platform::FileSystem& files, const Installation& at) {
    files.CopyFile(at.temp("updater"), at.app("updater"));
};
const std::vector<Change> everyKind = {replacedFile, replacedLink, addedFile, madeFolder,
                                       ownProgram};
const std::vector<Change> everyKindButTheLink = {replacedFile, addedFile, madeFolder, ownProgram};

Installation::Installation()
    : m_paths(std::filesystem::canonical(m_root.path()).string() + "/Morvane App"),
      m_quickSyncs(quickSyncs()) {
    TempDir::makeFolder(m_paths.folder());
    TempDir::makeFolder(m_paths.tempFolder());
    TempDir::makeFolder(app("data"));
    file(app("morvane.exe"), "old application", 0755);
    file(app("updater"), "old updater", 0755);
    file(app("a.dll"), "old a", 0640);
    file(app("data/keep.txt"), "kept", 0600);
    symlink("morvane.exe", app("current").c_str());
    for (const char* name : {"morvane.exe", "current", "b.dll", "p.so"}) {
        file(temp(name), std::string("new ") + name, 0644);
    }
    file(temp("updater"), "new updater", 0755);
}

std::string Installation::journal(const std::string& name) const {
    const std::string folder = app(updater::JournalFolder::folderName);
    return name.empty() ? folder : folder + "/" + name;
}

void Installation::file(const std::string& path, const std::string& bytes, mode_t mode) {
    testsupport::writeFile(path, bytes);
    chmod(path.c_str(), mode);
    const struct timespec longAgo[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, path.c_str(), longAgo, 0);
}

void Installation::change(updater::UpdateJournal& journal, const std::vector<Change>& changes) {
    const updater::JournalAttachment attached(m_files, journal, m_paths.tempFolder());
    for (const Change& change : changes) {
        change(m_files, *this);
    }
}

void Installation::update(const std::vector<Change>& changes) {
    updater::UpdateJournal journal(m_paths.folder());
    change(journal, changes);
    journal.commit();
    journal.removeKept();
    m_files.DeleteFolder(m_paths.tempFolder(), true);
    journal.remove();
}

testsupport::TreeSnapshot Installation::updated(const std::vector<Change>& changes) {
    Installation fresh;
    fresh.update(changes);
    return fresh.tree();
}
