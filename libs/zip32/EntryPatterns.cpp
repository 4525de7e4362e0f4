#include "EntryPatterns.h"

#include "text/Slashes.h"
#include "text/Wildcards.h"

#include <set>

namespace zip32 {

namespace {

std::string entryPattern(const std::string& name, const std::string& root) {
    std::string pattern = text::withForwardSlashes(name);
    const std::string rootSlash = root.ends_with('/') ? root : root + "/";
    if (pattern.starts_with(rootSlash)) {
        pattern.erase(0, rootSlash.size());
    }
    while (pattern.starts_with('/') || pattern.starts_with("./")) {
        pattern.erase(0, pattern.starts_with('/') ? 1 : 2);
    }
    while (pattern.ends_with('/')) {
        pattern.pop_back();
    }
    return pattern;
}

} // namespace

std::vector<zip_uint64_t> entriesToDelete(zip_t* archive, const std::vector<std::string>& names,
                                          const std::string& root, bool recurse,
                                          std::vector<std::string>& unmatched) {
    std::set<zip_uint64_t> chosen;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (const std::string& name : names) {
        const std::string pattern = entryPattern(name, root);
        bool matched = false;
        for (zip_int64_t i = 0; i < count && !pattern.empty(); ++i) {
            const char* entry = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
            if (entry == nullptr) {
                continue;
            }
            std::string entryName(entry);
            while (entryName.ends_with('/')) {
                entryName.pop_back();
            }
            if (text::matchesIgnoringCase(entryName, pattern) ||
                (recurse && text::matchesIgnoringCase(entryName, pattern + "/*"))) {
                chosen.insert(static_cast<zip_uint64_t>(i));
                matched = true;
            }
        }
        if (!matched) {
            unmatched.push_back(name);
        }
    }
    return {chosen.begin(), chosen.end()};
}

} // namespace zip32
