#include "StoredName.h"

#include "text/LetterCase.h"
#include "text/Pieces.h"

#include <string_view>

namespace zip32 {

namespace {

// The characters an 8.3 name may hold; everything else becomes "_".
std::string shortPart(std::string_view part, std::size_t limit) {
    std::string result;
    for (const char c : part) {
        if (result.size() == limit) {
            break;
        }
        const auto byte = static_cast<unsigned char>(c);
        if (c == ' ') {
            continue;
        }
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                           std::string_view("!#$%&'()-@^_`{}~").find(c) != std::string_view::npos;
        result.push_back(plain ? c : '_');
    }
    return result;
}

} // namespace

std::string shortName(const std::string& component) {
    const std::string upper = text::upperCase(component);
    const std::size_t dot = upper.rfind('.');
    const std::string_view whole(upper);
    std::string base = shortPart(dot == std::string::npos ? whole : whole.substr(0, dot), 8);
    if (base.empty()) {
        base.push_back('_');
    }
    if (dot == std::string::npos) {
        return base;
    }
    const std::string extension = shortPart(whole.substr(dot + 1), 3);
    return extension.empty() ? base : base + "." + extension;
}

std::string storedName(const std::string& root, const std::string& path,
                       const JobSettings& settings) {
    std::string_view relative(path);
    const std::string rootSlash = root.ends_with('/') ? root : root + "/";
    if (relative.starts_with(rootSlash)) {
        relative.remove_prefix(rootSlash.size());
    } else if (relative == root) {
        return {};
    }
    std::string name;
    for (const std::string& component : text::splitText(relative, '/')) {
        if (component.empty() || component == "." || component == "..") {
            continue;
        }
        const std::string part = settings.shortNames ? shortName(component) : component;
        name = settings.junkFolders || name.empty() ? part : name + "/" + part;
    }
    return name;
}

} // namespace zip32
