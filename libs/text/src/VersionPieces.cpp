#include "text/VersionPieces.h"

#include "text/Numbers.h"
#include "text/Pieces.h"

namespace text {

VersionPieces versionPieces(std::string_view version) {
    VersionPieces pieces;
    const std::vector<std::string> all = splitText(version, '.');
    for (std::size_t i = 0; i < pieces.size() && i < all.size(); ++i) {
        pieces[i] = all[i];
    }
    return pieces;
}

std::array<double, 3> versionValues(const VersionPieces& pieces) {
    return {leadingNumber(pieces[0]), leadingNumber(pieces[1]), leadingNumber(pieces[2])};
}

} // namespace text
