#include "publisher/Comparison.h"

#include "EntryChunks.h"
#include "Release.h"
#include "ReleaseManifest.h"
#include "delta/ChangedFilesChoice.h"
#include "delta/ChunkMap.h"
#include "delta/ChunkPlan.h"
#include "delta/DeltaPlan.h"
#include "delta/GatheredArchive.h"
#include "delta/LocalPackage.h"
#include "publisher/PublishError.h"
#include "signature/ArchiveEnd.h"
#include "signature/SignatureError.h"
#include "signature/SignatureLine.h"

#include "fileio/Writing.h"

#include <cstdio>
#include <fcntl.h>
#include <map>
#include <optional>
#include <span>
#include <sys/stat.h>

namespace publisher {

namespace {

// 1234567 as "1,234,567".
std::string withThousands(std::uint64_t number) {
    const std::string digits = std::to_string(number);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            text += ',';
        }
        text += digits[i];
    }
    return text;
}

std::string percentOf(std::uint64_t part, std::uint64_t whole) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%",
                  whole == 0 ? 0.0
                             : 100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return text;
}

delta::PackageManifest manifestOf(const delta::LocalPackage& package, const std::string& path) {
    std::string why;
    auto manifest = delta::parseManifest(*package.manifestBytes, why);
    if (!manifest) {
        throw PublishError("the manifest of " + path + " cannot be read: " + why);
    }
    return std::move(*manifest);
}

// The version a package is signed for, "1.2.0", or its path when unsigned.
std::string releaseOf(const std::string& path) {
    const fileio::UniqueFd fd = fileio::openFile(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    struct stat status {};
    if (fd && ::fstat(fd.get(), &status) == 0) {
        try {
            const signature::ArchiveEnd end = signature::readArchiveEnd(
                fd.get(), static_cast<std::uint64_t>(status.st_size), path);
            std::string why;
            if (const auto line = signature::parseSignatureLine(end.comment, why)) {
                return line->version;
            }
        } catch (const signature::SignatureError&) {
            // Unsigned or unreadable here; the path names it then.
        }
    }
    return "the release in " + path;
}

// Why the updater would take the whole package in place of the changed
// files, as it decides once it has the directory and the manifest; nothing
// when it takes the changed files.
std::optional<std::string> whyWholePackage(const delta::LocalPackage& package,
                                           const delta::PackageManifest& manifest,
                                           const delta::DeltaPlan& plan, std::uint64_t total) {
    const std::uint64_t size = package.directory.packageSize;
    if (package.tailBytes > delta::longestFetchedTail) {
        return "its directory is too long to fetch apart";
    }
    if (auto clash = delta::flatNameClash(package.directory)) {
        return clash;
    }
    if (delta::savesNothing(total, size)) {
        return "that is nearly all of it";
    }
    // Every entry fetched must go into the archive the update makes of them.
    delta::GatheredArchive gathered([](std::span<const unsigned char>) {});
    for (const delta::PlannedEntry& entry : plan.entries) {
        if (!entry.fetched) {
            continue;
        }
        if (auto refused =
                gathered.add(package.directory.entries[entry.directoryIndex], entry.span.length,
                             manifest.entries[entry.manifestIndex].mode)) {
            return refused;
        }
    }
    return std::nullopt;
}

// The report's last line: what a user of the old release fetches.
void reportChoice(const std::optional<std::string>& whyWhole, std::uint64_t changedBytes,
                  std::uint64_t packageSize, std::ostream& report) {
    if (whyWhole) {
        report << "so a user of the old release downloads the whole package, "
               << withThousands(packageSize) << " bytes (" << *whyWhole
               << "); nothing was written\n";
        return;
    }
    report << "so a user of the old release fetches the changed files, "
           << withThousands(changedBytes)
           << " bytes, with an updater built with the key and a version answer that names the "
              "manifest (else the whole package, "
           << withThousands(packageSize) << " bytes); nothing was written\n";
}

struct InstalledFile {
    std::uint64_t size = 0;
    delta::Sha256 sha256{};
    const delta::DirectoryEntry* entry = nullptr; // in the old package
};

// The changed entries an update rebuilds from chunks, by their place in the
// plan: the chunks the old release's file holds, found by unpacking it from
// the old package and cutting it as the installation will.
std::map<std::size_t, delta::ChunkPlan> chunkPlans(const delta::LocalPackage& newer,
                                                   const delta::PackageManifest& manifest,
                                                   const delta::DeltaPlan& plan,
                                                   const std::map<std::string, InstalledFile>& old,
                                                   const std::string& oldPackage) {
    std::map<std::size_t, delta::ChunkPlan> plans;
    std::string why;
    const auto map =
        newer.chunkMapBytes ? delta::parseChunkMap(*newer.chunkMapBytes, why) : std::nullopt;
    if (!map || !map->sizes) {
        return plans;
    }
    for (std::size_t i = 0; i < plan.entries.size(); ++i) {
        const delta::PlannedEntry& entry = plan.entries[i];
        const delta::ManifestEntry& listed = manifest.entries[entry.manifestIndex];
        const delta::ChunkedEntry* chunks = map->find(listed.entryName);
        const auto held = old.find(listed.installedPath);
        if (!entry.fetched || chunks == nullptr || held == old.end()) {
            continue;
        }
        delta::ChunkPlan chunkPlan =
            delta::planChunks(*chunks, chunksOfEntry(oldPackage, *held->second.entry, *map->sizes));
        if (chunkPlan.saves(entry.span)) {
            plans.emplace(i, std::move(chunkPlan));
        }
    }
    return plans;
}

// The plan's lines: each file fetched, whole or by its chunks.
void reportFetched(const delta::PackageManifest& manifest, const delta::DeltaPlan& plan,
                   const std::map<std::size_t, delta::ChunkPlan>& chunked, std::ostream& report) {
    for (std::size_t i = 0; i < plan.entries.size(); ++i) {
        const delta::PlannedEntry& entry = plan.entries[i];
        if (!entry.fetched) {
            continue;
        }
        report << "  " << manifest.entries[entry.manifestIndex].installedPath << "  ";
        if (const auto found = chunked.find(i); found != chunked.end()) {
            report << withThousands(found->second.requestedBytes())
                   << " bytes: " << withThousands(found->second.fetchedCount) << " of "
                   << withThousands(found->second.steps.size()) << " chunks, the rest from the "
                   << "installed file (whole: " << withThousands(entry.span.length) << ")\n";
        } else {
            report << withThousands(entry.span.length) << " bytes\n";
        }
    }
}

} // namespace

void compare(const std::string& oldPackage, const std::string& newPackage, std::ostream& report) {
    const delta::LocalPackage older = localPackageAt(oldPackage);
    const delta::LocalPackage newer = localPackageAt(newPackage);
    const std::uint64_t newSize = newer.directory.packageSize;
    if (!newer.manifestBytes) {
        report << newPackage << " carries no manifest: every user downloads it whole, "
               << withThousands(newSize) << " bytes\n";
        return;
    }
    if (!older.manifestBytes) {
        throw PublishError(oldPackage + " carries no manifest, so which files its users hold "
                                        "is not known here; compare two packages that carry one");
    }
    // The instruction file stays in the update's temp folder: no user holds
    // it, whatever the old manifest lists.
    std::map<std::string, InstalledFile> installed;
    for (const delta::ManifestEntry& entry : manifestOf(older, oldPackage).entries) {
        const std::size_t index = older.directory.find(entry.entryName);
        if (entry.installedPath != instructionFileName && index < older.directory.entries.size()) {
            installed[entry.installedPath] = {entry.size, entry.sha256,
                                              &older.directory.entries[index]};
        }
    }
    const delta::PackageManifest manifest = manifestOf(newer, newPackage);
    std::string why;
    const auto plan = delta::planDelta(
        manifest, newer.directory, newer.tailBytes,
        [&](const std::string& path, std::uint64_t size, const delta::Sha256& sha256) {
            const auto found = installed.find(path);
            return found != installed.end() && found->second.size == size &&
                   found->second.sha256 == sha256;
        },
        why);
    if (!plan) {
        throw PublishError("the manifest of " + newPackage + " does not describe it: " + why);
    }
    const auto chunked = chunkPlans(newer, manifest, *plan, installed, oldPackage);
    std::uint64_t total = plan->totalBytes();
    for (const auto& [index, chunkPlan] : chunked) {
        total = total - plan->entries[index].span.length + chunkPlan.requestedBytes();
    }
    report << "a user of " << releaseOf(oldPackage) << " fetches " << withThousands(total) << " of "
           << withThousands(newSize) << " bytes (" << percentOf(total, newSize)
           << "): " << withThousands(plan->fetchedCount) << " of "
           << withThousands(manifest.entries.size()) << " files"
           << (chunked.empty()
                   ? std::string()
                   : " (" + withThousands(chunked.size()) + " of them by their changed chunks)")
           << ", the directory and the manifest\n";
    reportFetched(manifest, *plan, chunked, report);
    report << "  the directory  " << withThousands(plan->tailBytes) << " bytes\n"
           << "  the manifest  " << withThousands(plan->manifestSpan.length) << " bytes\n";
    reportChoice(whyWholePackage(newer, manifest, *plan, total), total, newSize, report);
}

} // namespace publisher
