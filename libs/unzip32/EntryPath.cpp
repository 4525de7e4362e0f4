#include "EntryPath.h"

#include "JobError.h"
#include "text/Slashes.h"
#include "unzip32.h"

#include <algorithm>
#include <cctype>

namespace unzip32 {

namespace {

bool startsWithDriveLetter(std::string_view name) {
    return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) != 0 &&
           name[1] == ':';
}

template <typename Visit> void forEachComponent(std::string_view path, Visit visit) {
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view component = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (!component.empty() && component != ".") {
            visit(component);
        }
    }
}

} // namespace

std::vector<std::string> storedComponents(std::string_view storedName) {
    const std::string name = text::withForwardSlashes(storedName);
    if (!name.empty() && name.front() == '/') {
        throw EntryFault(UZP_UNSAFE_ENTRY, "refused: the name is absolute");
    }
    if (startsWithDriveLetter(name)) {
        throw EntryFault(UZP_UNSAFE_ENTRY, "refused: the name starts with a drive letter");
    }
    std::vector<std::string> components;
    forEachComponent(name, [&](std::string_view component) {
        if (component == "..") {
            throw EntryFault(UZP_UNSAFE_ENTRY, "refused: the name leads to a parent folder");
        }
        components.emplace_back(component);
    });
    return components;
}

bool targetStaysInside(const std::vector<std::string>& linkFolders, std::string_view target) {
    const std::string path = text::withForwardSlashes(target);
    if (path.empty() || path.front() == '/' || startsWithDriveLetter(path)) {
        return false;
    }
    // ".." is taken only before the first descending component: the folders
    // above the link are real folders, while a ".." after a component that is
    // itself a link would climb from wherever that link points.
    std::size_t depth = linkFolders.size();
    bool descended = false;
    bool inside = true;
    forEachComponent(path, [&](std::string_view component) {
        if (component != "..") {
            descended = true;
        } else if (descended || depth == 0) {
            inside = false;
        } else {
            --depth;
        }
    });
    return inside;
}

std::string spacesAsUnderscores(std::string text) {
    std::replace(text.begin(), text.end(), ' ', '_');
    return text;
}

} // namespace unzip32
