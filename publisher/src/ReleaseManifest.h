#pragma once

#include "Release.h"
#include "delta/LocalPackage.h"
#include "delta/Manifest.h"

#include <optional>
#include <string>

namespace publisher {

// The manifest of the package the release makes: a line for every file of
// the release, in the order it is packed, and then for the instruction file
// when the tool wrote it into writtenFolder (empty when the release brings
// its own): the updater must be able to check every entry it fetches, that
// one too. Entry names and installed paths are the paths in the release.
// Each file is hashed only while it is the one the release was read with
// (PublishError otherwise).
delta::PackageManifest releaseManifest(const Release& release, const std::string& writtenFolder);

// Refuses (PublishError) a package whose manifest does not describe it: the
// manifest must be its first entry, stored, and list every other entry but
// folders, each with the size the directory gives and the SHA-256 of the
// file as it unpacked into checkFolder.
void checkManifest(const std::string& archivePath, const std::string& checkFolder);

// The package at path as an installation will read it: its directory and
// its manifest's bytes. PublishError when it cannot be read.
delta::LocalPackage localPackageAt(const std::string& path);

// The SHA-256 of the manifest entry's bytes in the package at path, or
// nothing when it carries none. PublishError when it cannot be read.
std::optional<delta::Sha256> manifestDigestOf(const std::string& packagePath);

} // namespace publisher
