#pragma once

#include "Release.h"
#include "VersionAnswer.h"
#include "delta/ChunkMap.h"
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
// With chunks set, the release's files the package deflates in chunks are
// also cut as the zip library cuts them, in the same read: their chunks'
// sizes and SHA-256 go to *chunks, in the order of the files (compressed
// sizes 0: the zip library gives them).
delta::PackageManifest releaseManifest(const Release& release, const std::string& writtenFolder,
                                       std::vector<delta::ChunkedEntry>* chunks = nullptr);

// A chunk the zip library reports as it writes an entry in chunks.
struct WrittenChunk {
    std::string entryName;
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
};

// The chunk map of the chunks the release's files were cut into and the
// ones the zip library wrote: the same entries with the same sizes, in the
// same order (PublishError otherwise, naming the first difference).
delta::ChunkMap chunkMapOf(std::vector<delta::ChunkedEntry> cut,
                           const std::vector<WrittenChunk>& written);

// Refuses (PublishError) a package whose manifest does not describe it: the
// manifest must be its last entry, stored, and list every other entry but
// folders, each with the size the directory gives and the SHA-256 of the
// file as it unpacked into checkFolder.
void checkManifest(const std::string& archivePath, const std::string& checkFolder);

// The package at path as an installation will read it: its directory and
// its manifest's bytes. PublishError when it cannot be read.
delta::LocalPackage localPackageAt(const std::string& path);

// The SHA-256 of the manifest entry's bytes in the package at path and of
// its directory, or nothing when it carries no manifest. PublishError when
// it cannot be read.
std::optional<ManifestDigests> manifestDigestOf(const std::string& packagePath);

} // namespace publisher
