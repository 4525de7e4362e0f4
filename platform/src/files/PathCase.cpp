#include "files/PathCase.h"

#include "files/KnownFolders.h"
#include "platform/files/FolderListing.h"
#include "platform/files/PathText.h"
#include "text/LetterCase.h"
#include "text/Slashes.h"

#include <algorithm>
#include <optional>
#include <sys/stat.h>

namespace platform {
namespace {

// The entry of the folder that matches name without regard to case: name
// itself when it exists, else the first case variant in byte order.
std::optional<std::string> findEntry(const std::string& folder, const std::string& name,
                                     KnownFolders* known) {
    const std::string exact = joinPath(folder, name);
    struct stat st {};
    if (lstat(exact.c_str(), &st) == 0) {
        return name;
    }
    if (known != nullptr) {
        return known->caseVariant(folder.empty() ? "." : folder, name);
    }
    const auto names = folderEntries(folder.empty() ? "." : folder);
    if (!names) {
        return std::nullopt;
    }
    const std::u32string wanted = text::foldCase(name);
    std::optional<std::string> best;
    for (const std::string& candidate : *names) {
        if ((!best || candidate < *best) && text::foldCase(candidate) == wanted) {
            best = candidate;
        }
    }
    return best;
}

} // namespace

std::string resolveCase(std::string_view path, KnownFolders* known) {
    const std::string normal = text::withForwardSlashes(path);
    std::string resolved = normal.starts_with('/') ? "/" : "";
    bool found = true;
    size_t start = 0;
    while (start < normal.size()) {
        const size_t end = std::min(normal.find('/', start), normal.size());
        const std::string component = normal.substr(start, end - start);
        start = end + 1;
        if (component.empty()) {
            continue;
        }
        std::string spelt = component;
        // Below a component that does not exist nothing can be found.
        if (found && component != "." && component != "..") {
            const auto entry = findEntry(resolved, component, known);
            found = entry.has_value();
            spelt = entry.value_or(component);
        }
        resolved = joinPath(resolved, spelt);
    }
    if (normal.ends_with('/') && !resolved.ends_with('/')) {
        resolved += '/';
    }
    return resolved;
}

} // namespace platform
