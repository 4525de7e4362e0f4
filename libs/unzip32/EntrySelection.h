#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace unzip32 {

// Which entries a job handles: those matching an include pattern (all when
// there is none) and no exclude pattern. "*" stands for any run of
// characters, "/" included, and "?" for one character; a pattern is matched
// against the whole entry name.
class EntrySelection {
public:
    EntrySelection(const std::vector<std::string>& includes,
                   const std::vector<std::string>& excludes, bool caseSensitive);

    bool selects(std::string_view entryName) const;
    bool hasIncludes() const { return !m_includes.empty(); }

private:
    std::u32string prepared(std::string_view text) const;
    bool matchesAny(const std::vector<std::u32string>& patterns, std::u32string_view name) const;

    bool m_caseSensitive;
    std::vector<std::u32string> m_includes;
    std::vector<std::u32string> m_excludes;
};

} // namespace unzip32
