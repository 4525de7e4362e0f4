#pragma once

#include "delta/PackageDirectory.h"

#include <string>

namespace publisher {

// Refuses (PublishError) a package whose chunk map, as it unpacked into
// checkFolder, does not describe it: a map this tool cannot read, an entry
// it names that the package does not hold deflated, sizes that are not the
// directory's, or a chunk that does not inflate alone from its offset to
// exactly its bytes. A package without a chunk map passes.
void checkChunkMap(const std::string& archivePath, const delta::PackageDirectory& directory,
                   const std::string& checkFolder);

} // namespace publisher
