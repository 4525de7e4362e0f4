#pragma once

#include "codemodule/LibraryBoundary.h"
#include "zipformat/ContentChunker.h"

#include <cstdint>
#include <string>

namespace CodeModule {

// What VBZip returns when the library's archive call could not be made at
// all (the library or its ZpArchive entry point is missing). The library's
// own codes are 0 and up.
constexpr int32_t zipLibraryNotCalled = -1;

// Which files the library deflates in chunks that each inflate alone (its
// ZpSetChunking): those of at least smallestFile bytes, cut with sizes; 0,
// the default, chunks none.
struct ZipChunking {
    uint64_t smallestFile = 0;
    zipformat::ChunkSizes sizes;
};

// Builds or changes one archive through the zip library and returns
// ZpArchive's result unchanged. Nothing is raised: a step that fails (the
// library missing, an entry point missing) is skipped, and without an
// archive call the result is zipLibraryNotCalled. The root directory reaches
// the library upper-cased. Flags are 1 or 0. compressionLevel is the
// library's level byte (zip32.h): 0 deflates at its default level, '0'
// stores. The chunking is handed over on every call, so that none lingers
// from an earlier one; the chunks the library reports are in
// state().zipChunks afterwards (a library without chunking chunks nothing).
int32_t VBZip(int16_t nameCount, const std::string& zipFileName, const NameList& names,
              int16_t junkFolderNames, int16_t recurseFolders, int16_t updateNewer,
              int16_t freshenNewer, const std::string& rootDirectory, int16_t encrypt = 0,
              int16_t includeSystemFiles = 0, int16_t noDirectoryEntries = 0, int16_t verbose = 0,
              int16_t quiet = 0, int16_t crlfToLf = 0, int16_t lfToCrlf = 0, int16_t grow = 0,
              int16_t forceShortNames = 0, int16_t moveFiles = 0, int16_t deleteEntries = 0,
              uint8_t compressionLevel = 0, const ZipChunking& chunking = {});

} // namespace CodeModule
