#pragma once

// A package file on this machine, read as the updater will read a served
// one: its directory from its tail, and its manifest and chunk map from
// their spans.

#include "delta/Manifest.h"
#include "delta/PackageDirectory.h"

#include <optional>
#include <string>

namespace delta {

struct LocalPackage {
    PackageDirectory directory;
    // The manifest entry's bytes; nothing when the package has no entry of
    // that name.
    std::optional<std::string> manifestBytes;
    // The chunk map entry's bytes, likewise.
    std::optional<std::string> chunkMapBytes;
    // How many bytes from the end hold the directory and its end records.
    std::uint64_t tailBytes = 0;
    // The SHA-256 of its directory's records (see directoryDigest).
    Sha256 directorySha256{};
};

// Throws DeltaError, naming the path, when the file cannot be read, its
// directory cannot be read or is refused, or its manifest entry cannot be
// read (compressed, damaged), or its chunk map's.
LocalPackage readLocalPackage(const std::string& path);

} // namespace delta
