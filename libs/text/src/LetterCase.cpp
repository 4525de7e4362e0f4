#include "text/LetterCase.h"

#include "text/Utf8.h"

#include <cwctype>
#include <locale.h>

namespace text {

namespace {

// The case tables of the UTF-8 locale, independent of the process's locale;
// kept for the life of the process.
locale_t caseLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return locale;
}

char32_t upper(char32_t c, locale_t locale) {
    if (locale == locale_t{}) {
        return c >= U'a' && c <= U'z' ? c - (U'a' - U'A') : c;
    }
    return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
}

char32_t lower(char32_t c, locale_t locale) {
    if (locale == locale_t{}) {
        return c >= U'A' && c <= U'Z' ? c + (U'a' - U'A') : c;
    }
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), locale));
}

} // namespace

char32_t foldCase(char32_t codePoint) {
    const locale_t locale = caseLocale();
    return lower(upper(codePoint, locale), locale);
}

void foldCaseInPlace(std::u32string& codePoints) {
    const locale_t locale = caseLocale();
    for (char32_t& c : codePoints) {
        c = lower(upper(c, locale), locale);
    }
}

std::u32string foldCase(std::string_view text) {
    std::u32string codePoints = decodeUtf8(text);
    foldCaseInPlace(codePoints);
    return codePoints;
}

std::string upperCase(std::string_view text) {
    const locale_t locale = caseLocale();
    std::u32string codePoints = decodeUtf8(text);
    for (char32_t& c : codePoints) {
        c = upper(c, locale);
    }
    return encodeUtf8(codePoints);
}

} // namespace text
