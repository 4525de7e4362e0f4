#pragma once

#include "fetch/InstalledFiles.h"
#include "fetch/RangeFetch.h"

#include "delta/ChunkMap.h"
#include "delta/ChunkPlan.h"
#include "delta/PackageDirectory.h"
#include "delta/Sha256.h"
#include "fileio/BufferedFile.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <sys/types.h>

namespace updater {

class SideDigest;

// One changed file of an entry deflated in chunks, rebuilt in the temp
// folder from the chunks the installed file holds and the ones fetched by
// range from the package; a piece at a time in memory, never the file.
// Fetched chunks are inflated as they arrive, each alone, and checked
// against the chunk map. Held chunks were hashed when the installed file was
// cut; side by side in it they are copied as one run by the kernel, not
// hashed again: the rebuilt file's SHA-256, taken as it is written, decides,
// and one that is not the manifest's is the installed file changed since it
// was cut. The rebuilt file still has to pass the same check of its size
// and mode as every fetched entry. Whatever does not hold is a failure of
// its kind (fetch/FetchFailure.h) and leaves no file: the caller then
// fetches the entry whole.
class ChunkedFetch {
public:
    // Called with the bytes of the package each request brings.
    using Received = std::function<void(std::uint64_t bytes)>;

    ChunkedFetch(RangeFetch& fetch, Received received);

    struct Source {
        const std::string& url;
        std::uint64_t packageSize = 0;
        const delta::DirectoryEntry& entry;
        delta::ByteSpan span;
        const delta::ChunkedEntry& chunks;
        const delta::ChunkPlan& plan;
        const InstalledChunks& installed;
        // The file's SHA-256 as the manifest lists it.
        const delta::Sha256& sha256;
    };

    // Writes the file at to, with exactly mode; written gets the SHA-256 of
    // every byte written, so that its check need not read it again.
    Outcome<void> fetch(const Source& source, const std::string& to, mode_t mode,
                        delta::Sha256& written);

private:
    // Where the entry's data begins in the package.
    Outcome<std::uint64_t> dataOffset(const Source& source);
    using Write = std::function<void(std::span<const unsigned char> bytes)>;
    Outcome<void> rebuild(const Source& source, std::uint64_t dataOffset, int file,
                          delta::Sha256& written);
    // The held chunks from index on that lie side by side in the installed
    // file, copied into out; index ends past them.
    Outcome<void> copyHeld(const Source& source, std::size_t& index, fileio::BufferedFile& out,
                           SideDigest& whole);
    Outcome<void> fetchRun(const Source& source, std::uint64_t dataOffset,
                           const delta::ByteSpan& request, std::size_t& index, const Write& write);

    static Failure writeFailure(const Source& source, int error);

    RangeFetch& m_fetch;
    Received m_received;
};

} // namespace updater
