#pragma once

#include "app/Outcome.h"
#include "fetch/InstalledFiles.h"
#include "fetch/RangeFetch.h"

#include "delta/ChunkMap.h"
#include "delta/ChunkPlan.h"

#include "delta/DeltaPlan.h"
#include "delta/Manifest.h"
#include "delta/PackageDirectory.h"
#include "platform/http/InternetTransfer.h"
#include "signature/ReleaseLine.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace updater {

// An update that fetches only what the installation lacks, from the one
// package every updater downloads. The package's tail (its directory) and
// its manifest come first, by range requests; the directory's records and
// the manifest must be the ones the signed release line names. Every entry whose installed file
// already has the listed size and SHA-256 is put into the temp folder under the name unpacking
// gives it, with the mode unpacking gives the listed mode; every other entry's bytes are fetched
// and gathered into a small archive whose directory gives each the listed mode, which unpacking
// then takes in place of the package. After that unpacking, each of those files must be as the
// manifest lists it. Then the temp folder holds, for every file the manifest
// lists, its bytes, size and mode, as unpacking the whole package would.
//
// Nothing here is ever shown or raised: whatever does not hold is a failure
// of its kind (fetch/FetchFailure.h), its text the reason, and the caller
// downloads the whole package instead.
class PackageDelta {
public:
    using Progress = std::function<void(std::uint64_t received, std::uint64_t total)>;

    PackageDelta(platform::InternetTransfer& transfer, std::function<void()> pump,
                 Progress progress);

    // Fetches for the release at url into tempFolder, the gathered entries
    // into archive (a path in tempFolder), taking unchanged ones from
    // installFolder, whose paths resolve finds in their letter case.
    Outcome<void> fetch(const std::string& url, const signature::ReleaseLine& release,
                        const std::string& installFolder, const std::string& tempFolder,
                        const std::string& archive,
                        const std::function<std::string(const std::string&)>& resolve);

    // After archive was unpacked into the temp folder: fails when a file it
    // brought or one rebuilt from chunks is not the one listed (its size,
    // SHA-256 or mode). Each that is gets the time the signed directory
    // gives its entry, as unpacking the whole package would give it: never
    // one from the fetched local headers.
    Outcome<void> finishUnpacked() const;

    // Why each entry that was to be rebuilt from chunks was fetched whole
    // instead, in the last fetch.
    const std::vector<std::string>& entryFallbacks() const { return m_entryFallbacks; }

private:
    Outcome<void> fetchSequence(const std::string& url, const signature::ReleaseLine& release,
                                const std::string& installFolder, const std::string& tempFolder,
                                const std::string& archive,
                                const std::function<std::string(const std::string&)>& resolve);

    // The package the entries come from, as far as it is known.
    struct Package {
        std::string url;
        std::uint64_t size = 0;
        std::uint64_t tailBytes = 0;
        delta::PackageDirectory directory;
    };
    // A file the temp folder gets from the server: its name there, the
    // manifest's line and its entry's time.
    struct Fetched {
        std::string path;
        delta::ManifestEntry listed;
        std::int64_t modified = 0;
    };
    // An entry to fetch, with the mode the manifest lists.
    struct Gathered {
        const delta::DirectoryEntry* entry = nullptr;
        delta::ByteSpan span;
        std::uint16_t mode = 0;
    };

    // A changed entry rebuilt from its chunks.
    struct ChunkedJob {
        std::size_t plannedIndex = 0;
        const delta::ChunkedEntry* chunks = nullptr;
        InstalledChunks installed;
        delta::ChunkPlan plan;
    };

    Outcome<void> fetchDirectory(Package& package, const signature::DirectoryDigest& signed_);
    Outcome<void> fetchManifest(const Package& package, const delta::Sha256& signed_,
                                const std::string& tempFolder, delta::PackageManifest& manifest);
    Outcome<void> receiveStored(const Package& package, std::size_t index, const std::string& path,
                                const std::string& what, const delta::Sha256& expected,
                                const std::string& vouchedBy);
    Outcome<void> fetchPlanned(const Package& package, const delta::PackageManifest& manifest,
                               const delta::DeltaPlan& plan,
                               const std::optional<delta::ChunkMap>& chunkMap,
                               const std::string& tempFolder, const std::string& archive,
                               InstalledFiles& installed);
    std::optional<delta::ChunkMap> fetchChunkMap(const Package& package,
                                                 const delta::PackageManifest& manifest,
                                                 const std::string& tempFolder);
    std::vector<ChunkedJob> planChunked(const delta::PackageManifest& manifest,
                                        const delta::DeltaPlan& plan,
                                        const std::optional<delta::ChunkMap>& map,
                                        InstalledFiles& installed) const;
    void fetchChunked(const Package& package, const delta::PackageManifest& manifest,
                      const delta::DeltaPlan& plan, const std::vector<ChunkedJob>& jobs,
                      const std::string& tempFolder, std::vector<Gathered>& gathered,
                      std::uint64_t& received, std::uint64_t& planned);
    Outcome<void> placeEntries(const Package& package, const delta::PackageManifest& manifest,
                               const delta::DeltaPlan& plan, const std::string& tempFolder,
                               InstalledFiles& installed, const std::vector<bool>& placedApart,
                               std::vector<Gathered>& gathered);
    Outcome<void> gather(const Package& package, std::vector<Gathered> entries,
                         const std::string& archive, std::uint64_t received, std::uint64_t planned);

    RangeFetch m_fetch;
    std::function<void()> m_pump;
    Progress m_progress;
    // The process's file creation mask, as unpacking applies it.
    mode_t m_umask = 0;
    // The files the gathered archive brings and those rebuilt from chunks.
    std::vector<Fetched> m_fetched;
    std::vector<std::string> m_entryFallbacks;
    // The SHA-256 of each file rebuilt from chunks, taken as it was written.
    std::map<std::string, delta::Sha256> m_written;
};

} // namespace updater
