#include "delta/DeltaPlan.h"

#include <unordered_map>

namespace delta {

namespace {

// A folder entry brings nothing to install: the update unpacks every file
// into one folder.
bool isFolder(const DirectoryEntry& entry) {
    return entry.name.ends_with('/') && entry.size == 0;
}

} // namespace

std::optional<DeltaPlan> planDelta(const PackageManifest& manifest,
                                   const PackageDirectory& directory, std::uint64_t tailBytes,
                                   const InstallationHolds& holds, std::string& why) {
    const std::size_t manifestIndex = directory.find(manifestEntryName);
    if (manifestIndex == directory.entries.size()) {
        why = "the package has no entry " + std::string(manifestEntryName);
        return std::nullopt;
    }
    std::unordered_map<std::string_view, std::size_t> directoryIndex;
    for (std::size_t i = 0; i < directory.entries.size(); ++i) {
        directoryIndex.emplace(directory.entries[i].name, i);
    }
    DeltaPlan plan;
    plan.tailBytes = tailBytes;
    plan.manifestSpan = directory.spans[manifestIndex];
    std::vector<bool> listed(directory.entries.size(), false);
    listed[manifestIndex] = true;
    for (std::size_t i = 0; i < manifest.entries.size(); ++i) {
        const ManifestEntry& line = manifest.entries[i];
        const auto found = directoryIndex.find(line.entryName);
        if (line.entryName == manifestEntryName) {
            why = "the manifest lists itself";
            return std::nullopt;
        }
        if (found == directoryIndex.end()) {
            why = "the manifest lists " + line.entryName + ", which the package does not hold";
            return std::nullopt;
        }
        const DirectoryEntry& entry = directory.entries[found->second];
        if (entry.size != line.size) {
            why = "the manifest gives " + line.entryName + " " + std::to_string(line.size) +
                  " bytes, the package's directory " + std::to_string(entry.size);
            return std::nullopt;
        }
        listed[found->second] = true;
        const bool fetched = !holds(line.installedPath, line.size, line.sha256);
        const ByteSpan span = directory.spans[found->second];
        plan.entries.push_back({i, found->second, fetched, span});
        if (fetched) {
            ++plan.fetchedCount;
            plan.fetchedBytes += span.length;
        }
    }
    for (std::size_t i = 0; i < directory.entries.size(); ++i) {
        if (!listed[i] && !isFolder(directory.entries[i])) {
            why = "the package holds " + directory.entries[i].name +
                  ", which the manifest does not list";
            return std::nullopt;
        }
    }
    return plan;
}

} // namespace delta
