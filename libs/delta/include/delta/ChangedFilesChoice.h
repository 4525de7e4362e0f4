#pragma once

// What decides, once the package's directory and manifest are known, that an
// update takes the whole package rather than only the files it lacks. The
// updater follows it, and the publisher's tool's dry run tells from it what a
// user will fetch.

#include "delta/PackageDirectory.h"

#include <cstdint>
#include <optional>
#include <string>

namespace delta {

// A directory longer than this is not worth fetching apart from the rest.
inline constexpr std::uint64_t longestFetchedTail = 64 * 1024 * 1024;

// Whether fetching this many bytes of a package of packageSize piece by piece
// saves nothing worth it: nine tenths of the package or more.
bool savesNothing(std::uint64_t fetched, std::uint64_t packageSize);

// The last part of an entry name, the name unpacking without folders gives
// it ("\" read as "/"); empty for a folder's name.
std::string unpackedName(const std::string& entryName);

// Unpacking puts every file in one folder: two entries of one name there (in
// any letter case) would depend on their order, which is not worth
// following, and "." or ".." name no file. The reason, or nothing.
std::optional<std::string> flatNameClash(const PackageDirectory& directory);

} // namespace delta
