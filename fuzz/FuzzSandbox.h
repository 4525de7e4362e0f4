#pragma once

#include "fileio/FolderListing.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

// Deletes everything below the open folder fd, and closes it. Names are taken
// relative to each open folder, so no path is looked up from the root again,
// and nothing is allocated (see SandboxTrash). A folder whose permissions an
// input took away is given them back first.
inline void deleteBelow(int fd) {
    fchmod(fd, 0700);
    fileio::visitFolder(fd, [fd](std::string_view name, bool folder) {
        char path[256] = {};
        name.copy(path, sizeof path - 1);
        // A name whose type the listing did not tell is tried as a file first.
        if (folder || unlinkat(fd, path, 0) != 0) {
            const int inner = openat(fd, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner >= 0) {
                deleteBelow(inner);
                unlinkat(fd, path, AT_REMOVEDIR);
            }
        }
    });
    close(fd);
}

// Where the sandbox's cleared folders go, and the thread that deletes them
// while the next executions run: deleting what an execution made took a
// tenth of the zip tree target's time, and the machine has a processor the
// fuzzer leaves idle. The thread is woken once for a batch of folders, since
// waking a thread on another processor costs about as much as deleting one
// execution's files. It allocates nothing: libFuzzer counts every thread's
// allocations against the execution under way and runs an input again to
// look for a leak when they do not balance.
class SandboxTrash {
public:
    explicit SandboxTrash(std::string folder)
        : m_folder(std::move(folder)),
          m_fd(open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
          m_thread([this] { deleteTaken(); }) {}
    ~SandboxTrash() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_thread.join();
        close(m_fd);
    }
    SandboxTrash(const SandboxTrash&) = delete;
    SandboxTrash& operator=(const SandboxTrash&) = delete;

    // Moves the folder at path into the trash; false when it cannot be
    // moved, and then it is where it was.
    bool take(const std::string& path) {
        const unsigned taken = m_taken.load(std::memory_order_relaxed);
        if (taken - m_deleted.load(std::memory_order_acquire) >= maxWaiting) {
            // Never far behind: what waits to be deleted stays small.
            std::unique_lock lock(m_mutex);
            m_mainWaits = true;
            m_changed.wait(lock, [this, taken] { return taken - m_deleted < maxWaiting - batch; });
            m_mainWaits = false;
        }
        if (rename(path.c_str(), (m_folder + "/" + std::to_string(taken)).c_str()) != 0) {
            return false;
        }
        m_taken.store(taken + 1, std::memory_order_release);
        if ((taken + 1) % batch == 0) {
            { const std::lock_guard lock(m_mutex); }
            m_changed.notify_all();
        }
        return true;
    }

private:
    static constexpr unsigned batch = 16;
    static constexpr unsigned maxWaiting = 4 * batch;

    void deleteTaken() {
        for (bool stopping = false; !stopping;) {
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stopping || m_taken - m_deleted >= batch; });
                stopping = m_stopping;
            }
            for (const unsigned taken = m_taken.load(std::memory_order_acquire);
                 m_deleted != taken;) {
                deleteOne(m_deleted);
                // In full order with the look at m_mainWaits below, as the
                // fuzzing thread sets that flag before it looks at this.
                ++m_deleted;
                if (m_mainWaits) {
                    { const std::lock_guard lock(m_mutex); }
                    m_changed.notify_all();
                }
            }
        }
    }

    void deleteOne(unsigned number) const {
        char name[16] = {};
        std::to_chars(name, name + sizeof name - 1, number);
        const int inner = openat(m_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (inner >= 0) {
            deleteBelow(inner);
        }
        unlinkat(m_fd, name, AT_REMOVEDIR);
    }

    std::string m_folder;
    int m_fd;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Folders are named by number: those from m_deleted to m_taken wait.
    std::atomic<unsigned> m_taken = 0;
    std::atomic<unsigned> m_deleted = 0;
    std::atomic<bool> m_mainWaits = false;
    bool m_stopping = false;
    std::thread m_thread;
};

// A folder of the fuzz target's own, made on first use and kept for the
// whole run, then removed when the run ends (a run that stops on a finding
// leaves it for a look). It lies in memory (/dev/shm) where the system has
// that: every execution makes, syncs and deletes files, and on a disk shared
// with other work one sync can take longer than the rest of the execution.
// Elsewhere it lies under the system's temporary folder.
struct FuzzSandbox {
    std::string top;
    std::string path;
    std::optional<SandboxTrash> trash;

    explicit FuzzSandbox(const char* prefix) {
        for (const std::string& parent :
             {std::string("/dev/shm"), std::filesystem::temp_directory_path().string()}) {
            std::string pattern = parent + "/" + prefix + "-XXXXXX";
            if (mkdtemp(pattern.data()) != nullptr) {
                top = pattern;
                path = top + "/work";
                mkdir(path.c_str(), 0700);
                mkdir((top + "/trash").c_str(), 0700);
                trash.emplace(top + "/trash");
                return;
            }
        }
        std::abort();
    }
    ~FuzzSandbox() {
        trash.reset();
        std::error_code ignored;
        std::filesystem::remove_all(top, ignored);
    }
};

// The target's one sandbox: made by the first fuzzSandbox call, which names it.
inline std::optional<FuzzSandbox>& theFuzzSandbox() {
    static std::optional<FuzzSandbox> sandbox;
    return sandbox;
}

inline const std::string& fuzzSandbox(const char* prefix) {
    auto& sandbox = theFuzzSandbox();
    if (!sandbox) {
        sandbox.emplace(prefix);
    }
    return sandbox->path;
}

// The entries of the open folder fd (fileio's listing allocates no 32 KiB
// stream per folder: every execution lists several); none when it cannot be
// read.
inline std::vector<fileio::FolderEntry> namesIn(int fd) {
    return fileio::folderEntries(fd).value_or(std::vector<fileio::FolderEntry>{});
}

// Leaves the folder at path, in the sandbox, empty for the next execution,
// made anew: what it held is deleted by the sandbox's trash meanwhile, or
// here when it cannot be moved there.
inline void clearFolder(const std::string& path) {
    if (!theFuzzSandbox() || !theFuzzSandbox()->trash->take(path)) {
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            deleteBelow(fd);
        }
        rmdir(path.c_str());
    }
    mkdir(path.c_str(), 0777);
}
