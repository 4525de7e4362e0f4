#include "platform/NamePattern.h"

#include "platform/PathCase.h"

#include <string>

namespace platform {

bool hasWildcards(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

bool matchesPattern(std::string_view name, std::string_view pattern) {
    // Compared character by character in folded form, so "?" takes one
    // character, not one byte.
    const std::u32string text = foldCase(name);
    const std::u32string wild = foldCase(pattern);
    size_t t = 0;
    size_t p = 0;
    // Where the last "*" was seen and how much of the text it took so far;
    // on a mismatch it takes one character more.
    size_t starAt = std::u32string::npos;
    size_t starText = 0;
    while (t < text.size()) {
        if (p < wild.size() && (wild[p] == U'?' || wild[p] == text[t])) {
            ++t, ++p;
        } else if (p < wild.size() && wild[p] == U'*') {
            starAt = p++;
            starText = t;
        } else if (starAt != std::u32string::npos) {
            p = starAt + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < wild.size() && wild[p] == U'*') {
        ++p;
    }
    return p == wild.size();
}

} // namespace platform
