#pragma once

// The manifest every package carries as its first entry, stored: what each
// entry holds, so that an installation can tell which entries it lacks. Its
// SHA-256 rides in the signed release line, so it is as trusted as the
// package; it is read from bytes a server sent, so reading it is bounded and
// refuses anything that is not exactly this format:
//
//   morvane-manifest v1
//   <sha256, lower-case hex> <size, decimal> <mode, 4 octal digits> <entry name> <installed path>
//   ...
//
// UTF-8 text, every line ended by LF, no byte order mark. In both names the
// bytes "%", space, every byte below 0x20 and 0x7f are written as %XX
// (upper-case hex) and no other byte is, so a line splits at its blanks and
// a manifest has one text. The entry name is the entry's name in the package
// exactly as the zip library stores it; the installed path is relative to
// the installation folder, with "/" between folders.

#include "delta/Sha256.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace delta {

// The manifest's own entry in the package; an instruction file never moves
// a file of this name.
inline constexpr std::string_view manifestEntryName = "morvane.manifest";
inline constexpr std::string_view manifestFirstLine = "morvane-manifest v1";

// The most bytes a manifest may have: far more than a package of the most
// entries a zip directory holds needs, and a bound on what a reader takes.
inline constexpr std::size_t mostManifestBytes = std::size_t{256} << 20;
// A zip entry name has at most this many bytes; so has each name here.
inline constexpr std::size_t mostNameBytes = 0xffff;

struct ManifestEntry {
    std::string entryName;
    std::string installedPath;
    std::uint64_t size = 0; // below 2^63
    std::uint16_t mode = 0; // permission bits, at most 07777
    Sha256 sha256{};

    bool operator==(const ManifestEntry&) const = default;
};

struct PackageManifest {
    std::vector<ManifestEntry> entries;

    bool operator==(const PackageManifest&) const = default;
};

// The manifest's text. The entries must be what parseManifest accepts.
std::string formatManifest(const PackageManifest& manifest);

// The manifest in text, or nothing with the reason in why (naming the line):
// another first line, a line of other than five fields, a digest, size or
// mode of another form, a size of 2^63 or more, an empty name, an escape
// that is not %XX of a byte that needs one or a byte that needs one left
// bare, an installed path that is absolute or has an empty, "." or ".."
// piece or a "\", two lines of one entry name, a line without its LF, or
// more than mostManifestBytes.
std::optional<PackageManifest> parseManifest(std::string_view text, std::string& why);

} // namespace delta
