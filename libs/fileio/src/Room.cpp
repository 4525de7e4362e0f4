#include "fileio/Room.h"

#include "fileio/SystemCalls.h"

#include <sys/statvfs.h>

namespace fileio {

namespace {

struct Unit {
    std::uint64_t size;
    const char* name;
};

Unit unitFor(std::uint64_t bytes) {
    if (bytes >= 1000 * 1000) {
        return {1000 * 1000, "MB"};
    }
    if (bytes >= 1000) {
        return {1000, "KB"};
    }
    return {1, "bytes"};
}

} // namespace

std::optional<std::uint64_t> freeBytes(const std::string& path) {
    struct statvfs status {};
    if (systemCalls().statvfs(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
}

std::optional<std::string> roomShortfall(const std::string& folder, std::uint64_t needed,
                                         const std::string& what) {
    const auto free = freeBytes(folder);
    if (!free || *free >= needed) {
        return std::nullopt;
    }
    const Unit unit = unitFor(needed);
    const std::uint64_t neededInUnit = needed / unit.size + (needed % unit.size != 0 ? 1 : 0);
    return what + " needs " + std::to_string(neededInUnit) + " " + unit.name + " on " + folder +
           ", " + std::to_string(*free / unit.size) + " " + unit.name + " are free";
}

} // namespace fileio
