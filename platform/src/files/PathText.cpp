#include "platform/files/PathText.h"

namespace platform {

std::string withoutTrailingSlash(std::string_view path) {
    while (path.size() > 1 && path.ends_with('/')) {
        path.remove_suffix(1);
    }
    return std::string(path);
}

std::string folderOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return ".";
    }
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

std::string nameOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string joinPath(std::string_view folder, std::string_view name) {
    if (folder.empty()) {
        return std::string(name);
    }
    std::string joined(folder);
    if (!joined.ends_with('/')) {
        joined += '/';
    }
    return joined + std::string(name);
}

} // namespace platform
