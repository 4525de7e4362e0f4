#include "fileio/SystemCalls.h"

#include <cstdio>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace fileio {

namespace {

// Never destroyed, so that a descriptor closed during the process's exit
// still finds its close.
SystemCalls& inForce() {
    static SystemCalls* const calls = new SystemCalls(realSystemCalls());
    return *calls;
}

} // namespace

SystemCalls realSystemCalls() {
    SystemCalls calls;
    calls.open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); };
    calls.openat = [](int folder, const char* name, int flags, mode_t mode) {
        return ::openat(folder, name, flags, mode);
    };
    calls.openat2 = [](int folder, const char* name, int flags, std::uint64_t resolve) {
        open_how how{};
        how.flags = static_cast<std::uint64_t>(flags);
        how.resolve = resolve;
        return static_cast<int>(::syscall(SYS_openat2, folder, name, &how, sizeof how));
    };
    calls.write = [](int fd, const void* data, std::size_t size) {
        return ::write(fd, data, size);
    };
    calls.copyFileRange = [](int in, off_t* inOffset, int out, std::size_t size) {
        return ::copy_file_range(in, inOffset, out, nullptr, size, 0);
    };
    calls.fsync = [](int fd) { return ::fsync(fd); };
    calls.syncfs = [](int fd) { return ::syncfs(fd); };
    calls.close = [](int fd) { return ::close(fd); };
    calls.linkat = [](int fromFolder, const char* from, int toFolder, const char* to, int flags) {
        return ::linkat(fromFolder, from, toFolder, to, flags);
    };
    calls.renameat = [](int fromFolder, const char* from, int toFolder, const char* to) {
        return ::renameat(fromFolder, from, toFolder, to);
    };
    calls.unlinkat = [](int folder, const char* name, int flags) {
        return ::unlinkat(folder, name, flags);
    };
    calls.mkdirat = [](int folder, const char* name, mode_t mode) {
        return ::mkdirat(folder, name, mode);
    };
    calls.statvfs = [](const char* path, struct statvfs* status) {
        return ::statvfs(path, status);
    };
    return calls;
}

const SystemCalls& systemCalls() {
    return inForce();
}

ReplacedSystemCalls::ReplacedSystemCalls(SystemCalls calls)
    : m_previous(std::make_unique<SystemCalls>(std::exchange(inForce(), std::move(calls)))) {}

ReplacedSystemCalls::~ReplacedSystemCalls() {
    inForce() = std::move(*m_previous);
}

} // namespace fileio
