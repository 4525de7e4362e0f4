#include "platform/files/PathPlace.h"

#include "platform/files/PathText.h"
#include "text/LetterCase.h"

#include <climits>
#include <cstdlib>
#include <memory>

namespace platform {

std::string canonicalPath(const std::string& path) {
    std::string existing = withoutTrailingSlash(path);
    std::string rest;
    while (!existing.empty() && existing != "/") {
        const std::unique_ptr<char, decltype(&free)> real(realpath(existing.c_str(), nullptr),
                                                          &free);
        if (real) {
            return rest.empty() ? std::string(real.get()) : joinPath(real.get(), rest);
        }
        rest = rest.empty() ? nameOf(existing) : joinPath(nameOf(existing), rest);
        existing = folderOf(existing);
    }
    return joinPath("/", rest);
}

bool liesWithin(const std::string& path, const std::string& folder) {
    const std::u32string outer = text::foldCase(canonicalPath(folder));
    const std::u32string candidate = text::foldCase(canonicalPath(path));
    return candidate == outer || (candidate.size() > outer.size() && candidate.starts_with(outer) &&
                                  candidate[outer.size()] == U'/');
}

} // namespace platform
