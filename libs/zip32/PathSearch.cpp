#include "PathSearch.h"

#include "fileio/FolderListing.h"
#include "text/LetterCase.h"
#include "text/Pieces.h"
#include "text/Wildcards.h"

#include <algorithm>
#include <sys/stat.h>

namespace zip32 {

namespace {

bool exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// The entry of the folder that is name under the case rule, or name itself.
std::string spelling(const std::string& folder, const std::string& name) {
    if (exists(joinPath(folder, name))) {
        return name;
    }
    const std::u32string wanted = text::foldCase(name);
    for (const std::string& candidate : folderNames(folder)) {
        if (text::foldCase(candidate) == wanted) {
            return candidate;
        }
    }
    return name;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

} // namespace

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::vector<std::string> folderNames(const std::string& folder) {
    return readFolder(folder).value_or(std::vector<std::string>{});
}

std::optional<std::vector<std::string>> readFolder(const std::string& folder) {
    auto names = fileio::folderNames(folder);
    if (names) {
        std::sort(names->begin(), names->end());
    }
    return names;
}

std::vector<std::string> expandPattern(const std::string& absolutePattern, bool hidden) {
    return expandBelow("/", absolutePattern, hidden);
}

std::vector<std::string> expandBelow(const std::string& folder, const std::string& pattern,
                                     bool hidden) {
    std::vector<std::string> paths{folder};
    for (const std::string& component : text::splitText(pattern, '/')) {
        if (component.empty() || component == ".") {
            continue;
        }
        std::vector<std::string> next;
        for (const std::string& path : paths) {
            if (component == "..") {
                next.push_back(parentOf(path));
            } else if (!text::hasWildcards(component)) {
                next.push_back(joinPath(path, spelling(path, component)));
            } else {
                const bool takeHidden = hidden || component.front() == '.';
                for (const std::string& name : folderNames(path)) {
                    if ((takeHidden || name.front() != '.') &&
                        text::matchesIgnoringCase(name, component)) {
                        next.push_back(joinPath(path, name));
                    }
                }
            }
        }
        paths = std::move(next);
    }
    return paths;
}

std::string resolvePath(const std::string& absolutePath) {
    // "." and ".." first, by the text: a component that ".." takes away
    // leaves no trace of how it was spelt.
    std::vector<std::string> components;
    for (std::string& component : text::splitText(absolutePath, '/')) {
        if (component == "..") {
            if (!components.empty()) {
                components.pop_back();
            }
        } else if (!component.empty() && component != ".") {
            components.push_back(std::move(component));
        }
    }
    // The longest start that exists as written: every folder on its way
    // does too, and an exact match wins, so it stands as it is. Most paths
    // given exist whole or but for their last name.
    std::string path = "/";
    for (const std::string& component : components) {
        path = joinPath(path, component);
    }
    std::size_t existing = components.size();
    while (existing > 0 && !exists(path)) {
        --existing;
        path = parentOf(path);
    }
    for (std::size_t i = existing; i < components.size(); ++i) {
        path = joinPath(path, spelling(path, components[i]));
    }
    return path;
}

} // namespace zip32
