#include "delta/Manifest.h"

#include "DecimalSize.h"
#include "NameEscapes.h"
#include "TextLines.h"
#include "text/Pieces.h"

#include <unordered_set>

namespace delta {

namespace {

constexpr std::size_t fieldCount = 5;

std::string modeText(std::uint16_t mode) {
    std::string text(4, '0');
    for (std::size_t i = text.size(); i-- > 0; mode = static_cast<std::uint16_t>(mode >> 3)) {
        text[i] = static_cast<char>('0' + (mode & 7));
    }
    return text;
}

std::optional<std::uint16_t> modeOf(std::string_view text) {
    if (text.size() != 4 || text.find_first_not_of("01234567") != std::string_view::npos) {
        return std::nullopt;
    }
    std::uint16_t mode = 0;
    for (const char c : text) {
        mode = static_cast<std::uint16_t>(mode << 3 | (c - '0'));
    }
    return mode;
}

// Why an installed path cannot name a file inside the installation folder,
// or the empty text.
std::string refusedPathReason(std::string_view path) {
    if (path.starts_with('/')) {
        return "its installed path is absolute";
    }
    if (path.find('\\') != std::string_view::npos) {
        return "its installed path has a \"\\\", which reads as a folder separator";
    }
    for (const std::string& piece : text::splitText(path, '/')) {
        if (piece.empty() || piece == "." || piece == "..") {
            return "its installed path has an empty, \".\" or \"..\" piece";
        }
    }
    return {};
}

// One line, its LF taken off, or the reason it is refused.
std::optional<ManifestEntry> entryOf(std::string_view line, std::string& why) {
    const std::vector<std::string> fields = text::splitText(line, ' ');
    if (fields.size() != fieldCount) {
        why = "it has " + std::to_string(fields.size()) +
              " fields separated by single blanks, not " + std::to_string(fieldCount);
        return std::nullopt;
    }
    ManifestEntry entry;
    const auto sha256 = sha256FromHex(fields[0]);
    const auto size = decimalSize(fields[1]);
    const auto mode = modeOf(fields[2]);
    auto entryName = unescapedName(fields[3]);
    auto installedPath = unescapedName(fields[4]);
    if (!sha256) {
        why = "its SHA-256 is not 64 lower-case hex digits";
    } else if (!size) {
        why = "its size is not a decimal number below 2^63 without leading zeros";
    } else if (!mode) {
        why = "its mode is not 4 octal digits";
    } else if (!entryName || !installedPath) {
        why = "a name has a bare blank or control byte, or an escape other than %XX (upper-case "
              "hex) of such a byte or of \"%\"";
    } else if (entryName->empty() || installedPath->empty()) {
        why = "a name is empty";
    } else if (entryName->size() > mostNameBytes || installedPath->size() > mostNameBytes) {
        why = "a name is longer than " + std::to_string(mostNameBytes) + " bytes";
    } else if (why = refusedPathReason(*installedPath); why.empty()) {
        return ManifestEntry{std::move(*entryName), std::move(*installedPath), *size, *mode,
                             *sha256};
    }
    return std::nullopt;
}

} // namespace

std::string formatManifest(const PackageManifest& manifest) {
    std::string text(manifestFirstLine);
    text += '\n';
    for (const ManifestEntry& entry : manifest.entries) {
        text += hexOf(entry.sha256) + ' ' + std::to_string(entry.size) + ' ' +
                modeText(entry.mode) + ' ' + escapedName(entry.entryName) + ' ' +
                escapedName(entry.installedPath) + '\n';
    }
    return text;
}

std::optional<PackageManifest> parseManifest(std::string_view text, std::string& why) {
    if (text.size() > mostManifestBytes) {
        why = "it has " + std::to_string(text.size()) + " bytes, more than a manifest may have (" +
              std::to_string(mostManifestBytes) + ")";
        return std::nullopt;
    }
    PackageManifest manifest;
    std::unordered_set<std::string_view> names;
    if (!readLines(
            text, manifestFirstLine,
            [&manifest](std::string_view line) {
                std::string lineWhy;
                auto entry = entryOf(line, lineWhy);
                if (entry) {
                    manifest.entries.push_back(std::move(*entry));
                }
                return lineWhy;
            },
            why)) {
        return std::nullopt;
    }
    for (const ManifestEntry& entry : manifest.entries) {
        if (!names.insert(entry.entryName).second) {
            why = "two lines name the entry \"" + escapedName(entry.entryName) + "\"";
            return std::nullopt;
        }
    }
    return manifest;
}

} // namespace delta
