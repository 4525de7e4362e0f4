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

std::optional<RoomShortfall> roomShortfall(const std::string& folder, std::uint64_t needed,
                                           const std::string& what) {
    struct statvfs status {};
    if (systemCalls().statvfs(folder.c_str(), &status) != 0) {
        return std::nullopt;
    }
    const std::uint64_t free = static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
    const std::uint64_t whole = static_cast<std::uint64_t>(status.f_blocks) * status.f_frsize;
    if (free >= needed) {
        return std::nullopt;
    }
    const Unit unit = unitFor(needed);
    const std::uint64_t neededInUnit = needed / unit.size + (needed % unit.size != 0 ? 1 : 0);
    const std::string need = what + " needs " + std::to_string(neededInUnit) + " " + unit.name;
    if (needed > whole) {
        return RoomShortfall{need + ", more than the disk that holds " + folder + " can hold (" +
                                 std::to_string(whole / unit.size) + " " + unit.name + " in all)",
                             true};
    }
    return RoomShortfall{need + " on " + folder + ", " + std::to_string(free / unit.size) + " " +
                             unit.name + " are free",
                         false};
}

} // namespace fileio
