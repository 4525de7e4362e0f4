#pragma once

#include "delta/FileChunks.h"
#include "delta/PackageDirectory.h"

#include <string>

namespace publisher {

// The chunks of an entry of the package at path, as its file unpacks: its
// data read from the package (stored or deflated) and cut with sizes as an
// installation that holds that file cuts it. PublishError when it cannot be
// read.
delta::HeldChunks chunksOfEntry(const std::string& path, const delta::DirectoryEntry& entry,
                                const zipformat::ChunkSizes& sizes);

} // namespace publisher
