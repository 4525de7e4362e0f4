#include "signature/VersionText.h"

#include "text/VersionPieces.h"

#include <cctype>

namespace signature {

namespace {

constexpr std::size_t comparedPieces = 3;

} // namespace

bool isVersionText(std::string_view version) {
    std::size_t pieces = 1;
    bool digitSeen = false;
    for (const char c : version) {
        if (c == '.') {
            if (!digitSeen) {
                return false;
            }
            ++pieces;
            digitSeen = false;
        } else if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            digitSeen = true;
        } else {
            return false;
        }
    }
    return pieces == comparedPieces && digitSeen;
}

bool sameVersion(std::string_view first, std::string_view second) {
    return text::versionValues(text::versionPieces(first)) ==
           text::versionValues(text::versionPieces(second));
}

} // namespace signature
