#pragma once

#include "Release.h"
#include "ReleaseManifest.h"

#include <cstdint>
#include <string>
#include <vector>

namespace publisher {

// What the tool wrote for the package beside the release: the manifest and
// the chunk map (when a file is chunked), in manifestFolder, and the
// instruction file, in writtenFolder (empty when the release brings its
// own).
struct PackageFolders {
    std::string manifestFolder;
    std::string writtenFolder;
};

// Builds archivePath through CGZipFiles from the release's package names
// taken against its root, folders with their trees, each file the release
// has chunked deflated in chunks; the chunks the library wrote. A library result other than 0 is
// refused with the library's messages, after how the release changed since it was read when it did
// (a file gone, or no longer a file).
std::vector<WrittenChunk> buildPackage(const Release& release, const std::string& archivePath);

// Ends the package with what the tool wrote: the written instruction file,
// and then, stored as they are, the chunk map and, last, the manifest, which
// an installation fetches by their spans and reads without unpacking
// anything.
void finishPackage(const PackageFolders& folders, const std::string& archivePath);

// Unpacks the package through CGUnzipFiles the way the updater does (every
// file into one folder) into checkFolder, and refuses it unless it holds
// exactly the release's files (and the written instruction file, the chunk
// map and the manifest), byte for byte, executables still executable, and its manifest
// describes it (see checkManifest). A release file is read without
// waiting and only while it is the file the release was read with: one that
// is gone, has another size, was written to, replaced or turned into a FIFO
// since is refused as a release that changed while it was packed.
void checkPackage(const Release& release, const PackageFolders& folders,
                  const std::string& archivePath, const std::string& checkFolder);

} // namespace publisher
