// The part of an update by changed files that rebuilds large changed files
// from their chunks: the chunk map, which chunks each one lacks, and the
// rebuilding, with the whole entry as the way back.
#include "fetch/ChunkedFetch.h"
#include "fetch/FetchFailure.h"
#include "fetch/PackageDelta.h"

#include "delta/ChangedFilesChoice.h"
#include "delta/ChunkMap.h"
#include "delta/StoredEntry.h"
#include "fileio/Failure.h"
#include "fileio/Names.h"
#include "fileio/Reading.h"
#include "fileio/UnpackedMode.h"

#include <algorithm>

namespace updater {

// The chunk map the manifest lists, received into the temp folder where
// unpacking would put it and checked against the manifest; nothing when
// there is none or it does not hold (its entry is then fetched as any
// other, and every changed file whole).
std::optional<delta::ChunkMap> PackageDelta::fetchChunkMap(const Package& package,
                                                           const delta::PackageManifest& manifest,
                                                           const std::string& tempFolder) {
    const auto listed = std::find_if(manifest.entries.begin(), manifest.entries.end(),
                                     [](const delta::ManifestEntry& entry) {
                                         return entry.entryName == delta::chunkMapEntryName;
                                     });
    const std::size_t index = package.directory.find(delta::chunkMapEntryName);
    if (listed == manifest.entries.end() || index == package.directory.entries.size() ||
        package.directory.entries[index].size != listed->size) {
        return std::nullopt;
    }
    const std::string path = tempFolder + "/" + std::string(delta::chunkMapEntryName);
    std::string text;
    std::string why;
    std::optional<delta::ChunkMap> map;
    if (auto received = receiveStored(package, index, path, "the chunk map", listed->sha256,
                                      "the manifest lists");
        !received) {
        why = reasonOf(received);
    } else if (const int error = fileio::readWholeFile(path, text)) {
        why = "cannot read " + path + ": " + fileio::systemReason(error);
    } else if (map = delta::parseChunkMap(text, why); map && map->sizes) {
        return map;
    }
    m_entryFallbacks.push_back(why.empty() ? "the chunk map's chunker is not one this updater "
                                             "knows"
                                           : "the chunk map: " + why);
    (void)fileio::removeFile(path);
    return std::nullopt;
}

// The changed entries worth rebuilding from chunks: listed in the chunk map,
// with an installed file to take chunks from that holds enough of them.
std::vector<PackageDelta::ChunkedJob>
PackageDelta::planChunked(const delta::PackageManifest& manifest, const delta::DeltaPlan& plan,
                          const std::optional<delta::ChunkMap>& map,
                          InstalledFiles& installed) const {
    std::vector<ChunkedJob> jobs;
    if (!map) {
        return jobs;
    }
    for (std::size_t i = 0; i < plan.entries.size(); ++i) {
        const delta::PlannedEntry& planned = plan.entries[i];
        const delta::ManifestEntry& listed = manifest.entries[planned.manifestIndex];
        const delta::ChunkedEntry* chunks = map->find(listed.entryName);
        if (!planned.fetched || chunks == nullptr) {
            continue;
        }
        auto held = installed.chunks(listed.installedPath, *map->sizes);
        if (!held) {
            continue;
        }
        delta::ChunkPlan chunkPlan = delta::planChunks(*chunks, held->held);
        if (chunkPlan.saves(planned.span)) {
            jobs.push_back({i, chunks, std::move(*held), std::move(chunkPlan)});
        }
    }
    return jobs;
}

// Each job's file rebuilt in the temp folder, to be checked with the
// gathered ones; a job that fails leaves no file and is gathered whole, its
// span added to what is planned (what the try brought stays received).
void PackageDelta::fetchChunked(const Package& package, const delta::PackageManifest& manifest,
                                const delta::DeltaPlan& plan, const std::vector<ChunkedJob>& jobs,
                                const std::string& tempFolder, std::vector<Gathered>& gathered,
                                std::uint64_t& received, std::uint64_t& plannedBytes) {
    ChunkedFetch fetch(m_fetch, [&](std::uint64_t bytes) {
        received += bytes;
        m_progress(received, plannedBytes);
    });
    for (const ChunkedJob& job : jobs) {
        const delta::PlannedEntry& planned = plan.entries[job.plannedIndex];
        const delta::ManifestEntry& listed = manifest.entries[planned.manifestIndex];
        const delta::DirectoryEntry& entry = package.directory.entries[planned.directoryIndex];
        const std::string name = tempFolder + "/" + delta::unpackedName(entry.name);
        const ChunkedFetch::Source source{package.url, package.size, entry,         planned.span,
                                          *job.chunks, job.plan,     job.installed, listed.sha256};
        delta::Sha256 written{};
        if (auto rebuilt =
                fetch.fetch(source, name, fileio::unpackedFileMode(listed.mode, m_umask), written);
            !rebuilt) {
            m_entryFallbacks.push_back(reasonOf(rebuilt));
            gathered.push_back({&entry, planned.span, listed.mode});
            plannedBytes += planned.span.length;
        } else {
            m_written.emplace(name, written);
        }
        m_fetched.push_back({name, listed, delta::modifiedSeconds(entry)});
    }
}

} // namespace updater
