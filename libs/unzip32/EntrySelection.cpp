#include "EntrySelection.h"

#include "JobSettings.h"
#include "Utf8.h"

namespace unzip32 {

EntrySelection::EntrySelection(const std::vector<std::string>& includes,
                               const std::vector<std::string>& excludes, bool caseSensitive)
    : m_caseSensitive(caseSensitive) {
    for (const std::string& pattern : includes) {
        m_includes.push_back(prepared(pattern));
    }
    for (const std::string& pattern : excludes) {
        m_excludes.push_back(prepared(pattern));
    }
}

std::u32string EntrySelection::prepared(std::string_view text) const {
    std::u32string characters = decodeUtf8(withForwardSlashes(text));
    if (!m_caseSensitive) {
        foldCase(characters);
    }
    return characters;
}

bool EntrySelection::matchesAny(const std::vector<std::u32string>& patterns,
                                std::u32string_view name) const {
    for (const std::u32string& pattern : patterns) {
        if (matchesWildcards(name, pattern)) {
            return true;
        }
    }
    return false;
}

bool EntrySelection::selects(std::string_view entryName) const {
    if (m_includes.empty() && m_excludes.empty()) {
        return true;
    }
    const std::u32string name = prepared(entryName);
    return (m_includes.empty() || matchesAny(m_includes, name)) && !matchesAny(m_excludes, name);
}

// Greedy matching that returns to the latest "*" on a mismatch: linear in
// practice and never exponential.
bool matchesWildcards(std::u32string_view text, std::u32string_view pattern) {
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t starPattern = std::u32string_view::npos;
    std::size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == U'*') {
            starPattern = p++;
            starText = t;
        } else if (starPattern != std::u32string_view::npos) {
            p = starPattern + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace unzip32
