#include "run/UpdateDecision.h"

#include "text/Utf8.h"

namespace updater {

text::VersionPieces readOfferedVersion(std::string_view answer) {
    return text::versionPieces(text::withoutByteOrderMark(answer));
}

bool isWebPage(std::string_view answer) {
    const std::string_view text = text::withoutByteOrderMark(answer);
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && text[first] == '<';
}

std::string updateStatusFor(const InstalledVersion& installed, const text::VersionPieces& offered) {
    if (offered[0].empty()) {
        return "NA";
    }
    const auto local = text::versionValues(installed);
    const auto server = text::versionValues(offered);
    if (server[0] > local[0] || local[1] < server[1] || local[2] < server[2]) {
        return "UPDATE_AVAILABLE";
    }
    return "NO_UPDATE";
}

bool movesForward(const InstalledVersion& installed, const text::VersionPieces& signedFor) {
    if (installed == InstalledVersion{}) {
        return true;
    }
    return text::versionValues(installed) < text::versionValues(signedFor);
}

} // namespace updater
