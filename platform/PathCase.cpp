#include "platform/PathCase.h"

#include "platform/FolderListing.h"
#include "platform/PathText.h"

#include <algorithm>
#include <cwctype>
#include <locale.h>
#include <optional>
#include <sys/stat.h>

namespace platform {
namespace {

// Code points that stand for bytes which are not valid UTF-8: lone
// surrogates, which a valid decoding never produces.
constexpr char32_t invalidByteBase = 0xDC00;

class CaseLocale {
public:
    CaseLocale() : m_locale(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
    ~CaseLocale() {
        if (m_locale != locale_t{}) {
            freelocale(m_locale);
        }
    }
    CaseLocale(const CaseLocale&) = delete;
    CaseLocale& operator=(const CaseLocale&) = delete;

    char32_t fold(char32_t c) const {
        if (m_locale == locale_t{}) {
            // Without the UTF-8 locale only ASCII letters can be mapped.
            return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
        }
        // Upper then lower, so that letters with several lower forms (final
        // sigma, for one) meet.
        const wint_t upper = towupper_l(static_cast<wint_t>(c), m_locale);
        return static_cast<char32_t>(towlower_l(upper, m_locale));
    }

private:
    locale_t m_locale;
};

const CaseLocale& caseLocale() {
    static const CaseLocale instance;
    return instance;
}

// Length of the UTF-8 sequence starting at text[i] and its code point, or
// nothing when the bytes there are not a well-formed sequence.
std::optional<std::pair<size_t, char32_t>> decodeAt(std::string_view text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        return std::pair<size_t, char32_t>{1, lead};
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1Fu, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0Fu, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07u, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - i < length) {
        return std::nullopt;
    }
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        code = (code << 6) | (next & 0x3Fu);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return std::nullopt;
    }
    return std::pair<size_t, char32_t>{length, code};
}

// The entry of the folder that matches name without regard to case: name
// itself when it exists, else the first case variant in byte order.
std::optional<std::string> findEntry(const std::string& folder, const std::string& name) {
    const std::string exact = joinPath(folder, name);
    struct stat st {};
    if (lstat(exact.c_str(), &st) == 0) {
        return name;
    }
    const auto names = folderEntries(folder.empty() ? "." : folder);
    if (!names) {
        return std::nullopt;
    }
    const std::u32string wanted = foldCase(name);
    std::optional<std::string> best;
    for (const std::string& candidate : *names) {
        if ((!best || candidate < *best) && foldCase(candidate) == wanted) {
            best = candidate;
        }
    }
    return best;
}

} // namespace

std::u32string foldCase(std::string_view name) {
    const CaseLocale& locale = caseLocale();
    std::u32string folded;
    folded.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        if (const auto decoded = decodeAt(name, i)) {
            folded.push_back(locale.fold(decoded->second));
            i += decoded->first;
        } else {
            folded.push_back(invalidByteBase + static_cast<unsigned char>(name[i]));
            ++i;
        }
    }
    return folded;
}

std::string resolveCase(std::string_view path) {
    const std::string normal = withForwardSlashes(path);
    std::string resolved = normal.starts_with('/') ? "/" : "";
    bool found = true;
    size_t start = 0;
    while (start < normal.size()) {
        const size_t end = std::min(normal.find('/', start), normal.size());
        const std::string component = normal.substr(start, end - start);
        start = end + 1;
        if (component.empty()) {
            continue;
        }
        std::string spelt = component;
        // Below a component that does not exist nothing can be found.
        if (found && component != "." && component != "..") {
            const auto entry = findEntry(resolved, component);
            found = entry.has_value();
            spelt = entry.value_or(component);
        }
        resolved = joinPath(resolved, spelt);
    }
    if (normal.ends_with('/') && !resolved.ends_with('/')) {
        resolved += '/';
    }
    return resolved;
}

} // namespace platform
