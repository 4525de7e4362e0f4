#include "fileio/UnpackedMode.h"

#include "fileio/UniqueFd.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fileio {

namespace {

constexpr mode_t permissionBits = 0777;
// What a process whose mask cannot be read most likely has.
constexpr mode_t assumedUmask = 022;

mode_t unpackedMode(mode_t recorded, mode_t umask, mode_t owner) {
    return (recorded & permissionBits & ~umask) | owner;
}

} // namespace

mode_t unpackedFileMode(mode_t recorded, mode_t umask) {
    return unpackedMode(recorded, umask, S_IRUSR | S_IWUSR);
}

mode_t unpackedFolderMode(mode_t recorded, mode_t umask) {
    return unpackedMode(recorded, umask, S_IRWXU);
}

std::optional<mode_t> umaskInStatus(std::string_view status) {
    const std::string_view label = "Umask:";
    std::size_t at = 0;
    if (!status.starts_with(label)) {
        at = status.find("\nUmask:");
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        ++at;
    }
    at = status.find_first_not_of(" \t", at + label.size());
    mode_t mask = 0;
    std::size_t digits = 0;
    for (; at < status.size() && status[at] >= '0' && status[at] <= '7' && digits < 8;
         ++at, ++digits) {
        mask = static_cast<mode_t>(mask * 8 + static_cast<mode_t>(status[at] - '0'));
    }
    const bool ended = at >= status.size() || status[at] == '\n';
    if (digits == 0 || !ended) {
        return std::nullopt;
    }
    return static_cast<mode_t>(mask & permissionBits);
}

// Linux shows the mask in the process's status, a page of text read in one
// go: no stream, which allocates and locks for every line.
mode_t processUmask() {
    const UniqueFd status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    char text[8192];
    std::size_t length = 0;
    while (status && length < sizeof text) {
        const ssize_t got = ::read(status.get(), text + length, sizeof text - length);
        if (got <= 0) {
            break;
        }
        length += static_cast<std::size_t>(got);
    }
    return umaskInStatus({text, length}).value_or(assumedUmask);
}

} // namespace fileio
