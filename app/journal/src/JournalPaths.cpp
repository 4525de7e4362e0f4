#include "journal/JournalPaths.h"

#include "app/SourceLabels.h"

#include "fileio/Beneath.h"
#include "platform/Error.h"
#include "platform/files/PathPlace.h"
#include "platform/files/PathText.h"

namespace updater {

bool namesDirectly(std::string_view path) {
    if (path.starts_with('/')) {
        path.remove_prefix(1);
    }
    return fileio::directBelow(path);
}

std::optional<std::string> pathBelow(std::string_view folder, std::string_view path) {
    const std::string prefix = platform::joinPath(folder, "");
    if (!path.starts_with(prefix) || path.size() == prefix.size()) {
        return std::nullopt;
    }
    return std::string(path.substr(prefix.size()));
}

std::string journalPath(const std::string& installFolder, const std::string& target) {
    const std::string path = platform::joinPath(platform::canonicalPath(platform::folderOf(target)),
                                                platform::nameOf(target));
    if (path != installFolder) {
        std::string recorded = pathBelow(installFolder, path).value_or(path);
        if (namesDirectly(recorded)) {
            return recorded;
        }
    }
    platform::raiseError(platform::ErrorNumber::pathFileAccess, sources::journal,
                         target + " names no entry the update can record");
}

std::string placeOf(const std::string& installFolder, const std::string& recorded) {
    return recorded.starts_with('/') ? recorded : platform::joinPath(installFolder, recorded);
}

} // namespace updater
