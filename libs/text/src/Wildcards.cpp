#include "text/Wildcards.h"

#include "text/LetterCase.h"

#include <string>

namespace text {

bool hasWildcards(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
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

bool matchesIgnoringCase(std::string_view name, std::string_view pattern) {
    return matchesWildcards(foldCase(name), foldCase(pattern));
}

} // namespace text
