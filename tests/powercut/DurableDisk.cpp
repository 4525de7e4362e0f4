#include "DurableDisk.h"

#include "testsupport/TempDir.h"

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string handle(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

std::string linkTarget(const std::string& path) {
    return std::filesystem::read_symlink(path).string();
}

} // namespace

DurableDisk::DurableDisk(std::string root, std::set<std::string> leftOut)
    : m_root(std::move(root)), m_leftOut(std::move(leftOut)) {
    struct stat status {};
    lstat(m_root.c_str(), &status);
    m_rootNode = {status.st_ino, 0};
    takeTree(m_root);
}

void DurableDisk::takeTree(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        throw std::runtime_error("cannot read " + path);
    }
    const Node node{status.st_ino, 0};
    m_lives[status.st_ino] = 0;
    if (m_base.contains(node)) {
        return;
    }
    Durable& durable = m_base[node];
    durable = read(-1, path, status);
    if (durable.kind == 'd') {
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            if (path == m_root && m_leftOut.contains(entry.path().filename())) {
                continue;
            }
            takeTree(entry.path());
            struct stat child {};
            lstat(entry.path().c_str(), &child);
            m_base[node].entries[entry.path().filename()] = {child.st_ino, 0};
        }
    }
}

DurableDisk::Durable DurableDisk::read(int fd, const std::string& path, const struct stat& status) {
    Durable durable;
    durable.mode = status.st_mode & 07777;
    durable.modified = status.st_mtim;
    if (S_ISDIR(status.st_mode)) {
        durable.kind = 'd';
    } else if (S_ISLNK(status.st_mode)) {
        durable.kind = 'l';
        durable.content = linkTarget(path);
    } else {
        durable.content = testsupport::readFile(fd >= 0 ? handle(fd) : path);
    }
    return durable;
}

DurableDisk::Node DurableDisk::nodeOf(ino_t inode, const struct stat& status) {
    const auto [life, unseen] = m_lives.try_emplace(inode, m_nextLife);
    const Node node{inode, life->second};
    if (unseen) {
        // Made behind the seam's back: nothing of it is known to be on disk.
        ++m_nextLife;
        m_base[node].kind = S_ISDIR(status.st_mode) ? 'd' : S_ISLNK(status.st_mode) ? 'l' : 'f';
    }
    return node;
}

void DurableDisk::created(int folder, const char* name, int fd) {
    struct stat status {};
    if (fd >= 0 ? fstat(fd, &status) != 0
                : fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return;
    }
    // A new life for the number: nothing of it is on disk until it is synced.
    const unsigned life = m_nextLife++;
    m_lives[status.st_ino] = life;
    m_base[{status.st_ino, life}].kind = S_ISDIR(status.st_mode) ? 'd' : 'f';
}

void DurableDisk::synced(std::size_t moment, int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        return;
    }
    const Node node = nodeOf(status.st_ino, status);
    Durable durable = read(fd, handle(fd), status);
    if (durable.kind == 'd') {
        DIR* listing = opendir(handle(fd).c_str());
        while (const dirent* entry = listing != nullptr ? readdir(listing) : nullptr) {
            const std::string name = entry->d_name;
            struct stat child {};
            if (name == "." || name == ".." || (node == m_rootNode && m_leftOut.contains(name)) ||
                fstatat(dirfd(listing), name.c_str(), &child, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            durable.entries[name] = nodeOf(child.st_ino, child);
        }
        if (listing != nullptr) {
            closedir(listing);
        }
    }
    m_events.push_back({moment, node, std::move(durable)});
}

void DurableDisk::syncedTree(std::size_t moment, const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return;
    }
    const Node node = nodeOf(status.st_ino, status);
    Durable durable = read(-1, path, status);
    if (durable.kind == 'd') {
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            const std::string name = entry.path().filename();
            struct stat child {};
            if ((path == m_root && m_leftOut.contains(name)) ||
                lstat(entry.path().c_str(), &child) != 0) {
                continue;
            }
            durable.entries[name] = nodeOf(child.st_ino, child);
            syncedTree(moment, entry.path());
        }
    }
    m_events.push_back({moment, node, std::move(durable)});
}

fileio::SystemCalls DurableDisk::calls() {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const fileio::SystemCalls real = fileio::realSystemCalls();
    const auto creates = [](int folder, const char* name, int flags) {
        struct stat status {};
        return (flags & O_TMPFILE) == O_TMPFILE ||
               ((flags & O_CREAT) != 0 && fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0);
    };
    calls.open = [this, real, creates](const char* path, int flags, mode_t mode) {
        ++m_moments;
        const bool fresh = creates(AT_FDCWD, path, flags);
        const int fd = real.open(path, flags, mode);
        if (fd >= 0 && fresh) {
            created(AT_FDCWD, path, fd);
        }
        return fd;
    };
    calls.openat = [this, real, creates](int folder, const char* name, int flags, mode_t mode) {
        ++m_moments;
        const bool fresh = creates(folder, name, flags);
        const int fd = real.openat(folder, name, flags, mode);
        if (fd >= 0 && fresh) {
            created(folder, name, fd);
        }
        return fd;
    };
    calls.mkdirat = [this, real](int folder, const char* name, mode_t mode) {
        ++m_moments;
        const int result = real.mkdirat(folder, name, mode);
        if (result == 0) {
            created(folder, name, -1);
        }
        return result;
    };
    calls.fsync = [this, real](int fd) {
        const std::size_t moment = m_moments++;
        const int result = real.fsync(fd);
        if (result == 0) {
            synced(moment, fd);
        }
        return result;
    };
    // The whole file system: everything below the root is on disk.
    calls.syncfs = [this, real](int fd) {
        const std::size_t moment = m_moments++;
        const int result = real.syncfs(fd);
        if (result == 0) {
            syncedTree(moment, m_root);
        }
        return result;
    };
    calls.write = [this, real](int fd, const void* data, std::size_t size) {
        ++m_moments;
        return real.write(fd, data, size);
    };
    calls.copyFileRange = [this, real](int in, off_t* inOffset, int out, std::size_t size) {
        ++m_moments;
        return real.copyFileRange(in, inOffset, out, size);
    };
    calls.close = [this, real](int fd) {
        ++m_moments;
        return real.close(fd);
    };
    calls.linkat = [this, real](int fromFolder, const char* from, int toFolder, const char* to,
                                int flags) {
        ++m_moments;
        return real.linkat(fromFolder, from, toFolder, to, flags);
    };
    calls.renameat = [this, real](int fromFolder, const char* from, int toFolder, const char* to) {
        m_renames.emplace_back(m_moments++, to);
        return real.renameat(fromFolder, from, toFolder, to);
    };
    calls.unlinkat = [this, real](int folder, const char* name, int flags) {
        ++m_moments;
        return real.unlinkat(folder, name, flags);
    };
    return calls;
}

std::size_t DurableDisk::renameTo(const std::string& suffix) const {
    for (const auto& [moment, to] : m_renames) {
        if (to.ends_with(suffix)) {
            return moment;
        }
    }
    return m_moments;
}

std::size_t DurableDisk::syncsBefore(std::size_t moment) const {
    std::size_t count = 0;
    while (count < m_events.size() && m_events[count].moment < moment) {
        ++count;
    }
    return count;
}

void DurableDisk::materialize(std::size_t moment) const {
    std::map<Node, Durable> state = m_base;
    for (const Event& event : m_events) {
        if (event.moment < moment) {
            state[event.node] = event.state;
        }
    }
    for (const auto& entry : std::filesystem::directory_iterator(m_root)) {
        if (!m_leftOut.contains(entry.path().filename())) {
            std::filesystem::remove_all(entry.path());
        }
    }
    std::map<Node, std::string> placed;
    build(state, m_rootNode, m_root, placed);
}

void DurableDisk::build(const std::map<Node, Durable>& state, const Node& node,
                        const std::string& path, std::map<Node, std::string>& placed) const {
    const Durable& durable = state.at(node);
    if (durable.kind == 'd') {
        mkdir(path.c_str(), 0700); // the root is there already
        for (const auto& [name, child] : durable.entries) {
            build(state, child, path + "/" + name, placed);
        }
        chmod(path.c_str(), durable.mode);
        return;
    }
    if (const auto first = placed.find(node); first != placed.end()) {
        // Another name of a file already placed: the same file again.
        link(first->second.c_str(), path.c_str());
        return;
    }
    placed[node] = path;
    if (durable.kind == 'l') {
        symlink(durable.content.c_str(), path.c_str());
        return;
    }
    testsupport::writeFile(path, durable.content);
    chmod(path.c_str(), durable.mode);
    const struct timespec times[2] = {durable.modified, durable.modified};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}
