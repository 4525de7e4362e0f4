#include "app/VbText.h"

#include <climits>
#include <clocale>
#include <cwchar>
#include <cwctype>
#include <locale.h>

namespace {

locale_t utf8Locale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

} // namespace

std::string upperCase(const std::string& text) {
    const locale_t locale = utf8Locale();
    if (locale == static_cast<locale_t>(0)) {
        std::string ascii = text;
        for (char& c : ascii) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        return ascii;
    }
    const locale_t previous = uselocale(locale);
    std::string upper;
    upper.reserve(text.size());
    std::mbstate_t in{};
    std::size_t i = 0;
    while (i < text.size()) {
        wchar_t wide = 0;
        const std::size_t used = std::mbrtowc(&wide, text.data() + i, text.size() - i, &in);
        if (used == 0 || used == static_cast<std::size_t>(-1) ||
            used == static_cast<std::size_t>(-2)) {
            // A zero byte or a byte that starts no character stays as it is.
            upper.push_back(text[i]);
            in = std::mbstate_t{};
            ++i;
            continue;
        }
        char out[MB_LEN_MAX];
        std::mbstate_t outState{};
        const std::size_t made = std::wcrtomb(
            out, static_cast<wchar_t>(std::towupper(static_cast<wint_t>(wide))), &outState);
        if (made == static_cast<std::size_t>(-1)) {
            upper.append(text, i, used);
        } else {
            upper.append(out, made);
        }
        i += used;
    }
    uselocale(previous);
    return upper;
}

std::string replaceAll(const std::string& text, const std::string& what, const std::string& with) {
    if (what.empty()) {
        return text;
    }
    std::string result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(what, start);
        if (at == std::string::npos) {
            result.append(text, start, std::string::npos);
            return result;
        }
        result.append(text, start, at - start);
        result += with;
        start = at + what.size();
    }
}
