#include "text/Pieces.h"

namespace text {

namespace {

// Hands every piece between occurrences of the separator to visit, left to
// right and without overlap, telling it whether the piece is the last.
template <typename Visit>
void forEachPiece(std::string_view text, std::string_view separator, Visit visit) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            visit(text.substr(start), true);
            return;
        }
        visit(text.substr(start, at - start), false);
        start = at + separator.size();
    }
}

} // namespace

std::vector<std::string> splitText(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    if (!text.empty()) {
        forEachPiece(text, std::string_view(&separator, 1),
                     [&](std::string_view piece, bool) { pieces.emplace_back(piece); });
    }
    return pieces;
}

std::string_view trimmed(std::string_view text, std::string_view characters) {
    const std::size_t first = text.find_first_not_of(characters);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(characters) - first + 1);
}

std::string replaceAll(std::string_view text, std::string_view what, std::string_view with) {
    if (what.empty()) {
        return std::string(text);
    }
    std::string result;
    forEachPiece(text, what, [&](std::string_view piece, bool last) {
        result.append(piece);
        if (!last) {
            result.append(with);
        }
    });
    return result;
}

} // namespace text
