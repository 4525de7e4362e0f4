#include "signature/VersionText.h"

#include "text/Numbers.h"
#include "text/Pieces.h"

#include <array>
#include <cctype>

namespace signature {

namespace {

constexpr std::size_t comparedPieces = 3;

std::array<double, comparedPieces> versionNumbers(std::string_view version) {
    std::array<double, comparedPieces> numbers{};
    const auto pieces = text::splitText(version, '.');
    for (std::size_t i = 0; i < comparedPieces && i < pieces.size(); ++i) {
        numbers[i] = text::leadingNumber(pieces[i]);
    }
    return numbers;
}

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
    return versionNumbers(first) == versionNumbers(second);
}

} // namespace signature
