#pragma once

#include "Release.h"

#include <string>

namespace publisher {

// What the tool wrote for the package beside the release: the manifest, in
// manifestFolder, and the instruction file, in writtenFolder (empty when
// the release brings its own).
struct PackageFolders {
    std::string manifestFolder;
    std::string writtenFolder;
};

// Builds archivePath through CGZipFiles: the manifest first, stored; then
// the release's package names taken against its root, folders with their
// trees; and then the written instruction file, if any, at the top. A library
// result other than 0 is refused with
// the library's messages, after how the release changed since it was read
// when it did (a file gone, or no longer a file).
void buildPackage(const Release& release, const PackageFolders& folders,
                  const std::string& archivePath);

// Unpacks the package through CGUnzipFiles the way the updater does (every
// file into one folder) into checkFolder, and refuses it unless it holds
// exactly the release's files (and the written instruction file and the
// manifest), byte for byte, executables still executable, and its manifest
// describes it (see checkManifest). A release file is read without
// waiting and only while it is the file the release was read with: one that
// is gone, has another size, was written to, replaced or turned into a FIFO
// since is refused as a release that changed while it was packed.
void checkPackage(const Release& release, const PackageFolders& folders,
                  const std::string& archivePath, const std::string& checkFolder);

} // namespace publisher
