#pragma once

#include "text/VersionPieces.h"

#include <array>
#include <string>
#include <string_view>

namespace updater {

// The installed application's version as the check keeps it: the first,
// second and fourth part of its file version; the third is not compared.
using InstalledVersion = std::array<std::string, 3>;

// What the version endpoint's answer offers: the answer read as text (a
// byte order mark before it is no part of it), its first three pieces.
text::VersionPieces readOfferedVersion(std::string_view answer);

// Whether the answer is a web page rather than a version: its first
// character but blanks and a byte order mark is "<". No version begins so;
// a network's sign-in page, or a proxy's page of its own, does.
bool isWebPage(std::string_view answer);

// "NA" when the answer gave no usable version (its first piece is empty);
// otherwise "UPDATE_AVAILABLE" when the offered first piece is worth more
// than the installed first part, or, whatever the first ones are, the
// offered second more than the installed second or the offered third more
// than the installed fourth; else "NO_UPDATE". Pieces are compared by what
// they are worth (text::versionValues), so 10 is more than 9.
std::string updateStatusFor(const InstalledVersion& installed, const text::VersionPieces& offered);

// Whether installing a package signed for `signedFor` moves the installation
// forward: its three pieces against the installed first, second and fourth
// part, by what they are worth, the first that differs deciding. Any version
// is newer than none (no application, or one whose version is unknown).
bool movesForward(const InstalledVersion& installed, const text::VersionPieces& signedFor);

} // namespace updater
