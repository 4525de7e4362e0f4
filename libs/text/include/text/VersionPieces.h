#pragma once

// A version as the updater reads one, from the version endpoint's answer and
// from a package's signature alike.

#include <array>
#include <string>
#include <string_view>

namespace text {

// The first three pieces of a version text cut at ".", as they are written:
// a missing piece is empty, pieces after the third are not read.
using VersionPieces = std::array<std::string, 3>;
VersionPieces versionPieces(std::string_view version);

// What each piece is worth: the number it begins with (leadingNumber), so
// an empty piece, or one that begins with no number, is worth 0.
std::array<double, 3> versionValues(const VersionPieces& pieces);

} // namespace text
