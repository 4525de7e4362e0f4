#pragma once

// What an installation fetches of a package to reach its version: every
// entry the manifest lists is either taken from the installation, which
// already holds that installed path with that size and SHA-256, or fetched
// as its span; the package's tail (its directory) and the manifest's own
// span are always fetched.

#include "delta/Manifest.h"
#include "delta/PackageDirectory.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace delta {

// Whether the installation holds a file at installedPath of this size and
// SHA-256.
using InstallationHolds =
    std::function<bool(const std::string& installedPath, std::uint64_t size, const Sha256& sha256)>;

struct PlannedEntry {
    std::size_t manifestIndex = 0;  // its line in the manifest
    std::size_t directoryIndex = 0; // its entry in the directory
    bool fetched = false;           // else taken from the installation
    ByteSpan span;                  // what fetching it takes
};

struct DeltaPlan {
    std::vector<PlannedEntry> entries; // in the manifest's order
    std::size_t fetchedCount = 0;
    std::uint64_t tailBytes = 0;
    ByteSpan manifestSpan;
    std::uint64_t fetchedBytes = 0; // the spans of the entries fetched
    // Tail, manifest span and the entries fetched.
    std::uint64_t totalBytes() const { return tailBytes + manifestSpan.length + fetchedBytes; }
};

// The plan, or nothing with the reason in why when the directory and the
// manifest describe the package differently: no manifest entry in the
// directory, a manifest line without its directory entry or with another
// size, a directory entry other than the manifest's own and folders (a name
// ending in "/", nothing in it) without a manifest line, or a manifest that
// lists itself. tailBytes is how much of the package's end was fetched.
std::optional<DeltaPlan> planDelta(const PackageManifest& manifest,
                                   const PackageDirectory& directory, std::uint64_t tailBytes,
                                   const InstallationHolds& holds, std::string& why);

} // namespace delta
