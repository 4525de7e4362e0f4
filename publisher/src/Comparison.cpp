#include "publisher/Comparison.h"

#include "Release.h"
#include "ReleaseManifest.h"
#include "delta/ChangedFilesChoice.h"
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
                                           const delta::DeltaPlan& plan) {
    const std::uint64_t size = package.directory.packageSize;
    if (package.tailBytes > delta::longestFetchedTail) {
        return "its directory is too long to fetch apart";
    }
    if (auto clash = delta::flatNameClash(package.directory)) {
        return clash;
    }
    if (delta::savesNothing(plan.totalBytes(), size)) {
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
};

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
        if (entry.installedPath != instructionFileName) {
            installed[entry.installedPath] = {entry.size, entry.sha256};
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
    report << "a user of " << releaseOf(oldPackage) << " fetches "
           << withThousands(plan->totalBytes()) << " of " << withThousands(newSize) << " bytes ("
           << percentOf(plan->totalBytes(), newSize) << "): " << withThousands(plan->fetchedCount)
           << " of " << withThousands(manifest.entries.size())
           << " files, the directory and the manifest\n";
    for (const delta::PlannedEntry& entry : plan->entries) {
        if (entry.fetched) {
            report << "  " << manifest.entries[entry.manifestIndex].installedPath << "  "
                   << withThousands(entry.span.length) << " bytes\n";
        }
    }
    report << "  the directory  " << withThousands(plan->tailBytes) << " bytes\n"
           << "  the manifest  " << withThousands(plan->manifestSpan.length) << " bytes\n";
    reportChoice(whyWholePackage(newer, manifest, *plan), plan->totalBytes(), newSize, report);
}

} // namespace publisher
