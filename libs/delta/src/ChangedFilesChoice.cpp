#include "delta/ChangedFilesChoice.h"

#include "text/LetterCase.h"

#include <set>

namespace delta {

bool savesNothing(std::uint64_t fetched, std::uint64_t packageSize) {
    return fetched / 9 >= packageSize / 10;
}

std::string unpackedName(const std::string& entryName) {
    const std::size_t slash = entryName.find_last_of("/\\");
    return slash == std::string::npos ? entryName : entryName.substr(slash + 1);
}

std::optional<std::string> flatNameClash(const PackageDirectory& directory) {
    std::set<std::u32string> names;
    for (const DirectoryEntry& entry : directory.entries) {
        const std::string name = unpackedName(entry.name);
        if (name == "." || name == "..") {
            return entry.name + " names no file";
        }
        if (!name.empty() && !names.insert(text::foldCase(name)).second) {
            return "two entries unpack to " + name;
        }
    }
    return std::nullopt;
}

} // namespace delta
