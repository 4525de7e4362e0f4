#include "EntrySelection.h"

#include "text/LetterCase.h"
#include "text/Slashes.h"
#include "text/Utf8.h"
#include "text/Wildcards.h"

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
    std::u32string characters = text::decodeUtf8(text::withForwardSlashes(text));
    if (!m_caseSensitive) {
        text::foldCaseInPlace(characters);
    }
    return characters;
}

bool EntrySelection::matchesAny(const std::vector<std::u32string>& patterns,
                                std::u32string_view name) const {
    for (const std::u32string& pattern : patterns) {
        if (text::matchesWildcards(name, pattern)) {
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

} // namespace unzip32
