#include "fetch/PackageDelta.h"

#include "PackageFile.h"
#include "app/SourceLabels.h"
#include "fetch/ChunkedFetch.h"
#include "fetch/FetchFailure.h"
#include "fetch/InstalledFiles.h"

#include "delta/ChangedFilesChoice.h"
#include "delta/DeltaError.h"
#include "delta/DeltaPlan.h"
#include "delta/GatheredArchive.h"
#include "delta/Sha256.h"
#include "delta/StoredEntry.h"
#include "fileio/BufferedFile.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "fileio/UnpackedMode.h"
#include "fileio/Writing.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <utility>

namespace updater {

namespace {

const std::string deltaSource = sources::downloadFile;
// The end of the package asked for first: its directory is usually in it.
constexpr std::uint64_t firstTail = 64 * 1024;
constexpr std::size_t manifestBuffer = 64 * 1024;

std::string octalText(mode_t mode) {
    std::string text;
    for (int shift = 9; shift >= 0; shift -= 3) {
        text += static_cast<char>('0' + ((mode >> shift) & 7));
    }
    return text;
}

Failure notAsListed(std::string reason) {
    return needWholePackage(FetchFailureKind::notAsSigned, std::move(reason));
}

// Why an unpacked file is not the one listed, which unpacking gives mode;
// written is its SHA-256 when it was taken as the file was written. One that
// is gets its entry's time.
Outcome<void> differenceFromListed(const std::string& path, const delta::ManifestEntry& listed,
                                   mode_t mode, const delta::Sha256* written,
                                   std::int64_t modified) {
    struct stat status {};
    const fileio::UniqueFd file = fileio::openRegularFile(path, status, fileio::LastLink::refuse);
    if (!file) {
        return notAsListed("unpacking left no file " + path);
    }
    if (static_cast<std::uint64_t>(status.st_size) != listed.size) {
        return notAsListed(path + " has " + std::to_string(status.st_size) +
                           " bytes, the manifest lists " + std::to_string(listed.size));
    }
    if ((status.st_mode & 07777) != mode) {
        return notAsListed(path + " has the mode " + octalText(status.st_mode & 07777) + ", not " +
                           octalText(mode));
    }
    if ((written != nullptr ? *written : delta::sha256OfOpenFile(file.get(), path)) !=
        listed.sha256) {
        return notAsListed(path + " is not the file the manifest lists");
    }
    const timespec times[2] = {{static_cast<time_t>(modified), 0},
                               {static_cast<time_t>(modified), 0}};
    if (::futimens(file.get(), times) != 0) {
        return needWholePackage(FetchFailureKind::localFiles,
                                "cannot give " + path +
                                    " its time: " + fileio::systemReason(errno));
    }
    return {};
}

// The installed paths of the entries the chunk map lists.
InstalledFiles::ListedChunks chunkedPaths(const delta::PackageManifest& manifest,
                                          const delta::ChunkMap& map) {
    InstalledFiles::ListedChunks paths;
    for (const delta::ManifestEntry& entry : manifest.entries) {
        if (const delta::ChunkedEntry* chunked = map.find(entry.entryName)) {
            paths.emplace(entry.installedPath, chunked->chunks);
        }
    }
    return paths;
}

} // namespace

PackageDelta::PackageDelta(platform::InternetTransfer& transfer, std::function<void()> pump,
                           Progress progress)
    : m_fetch(transfer, pump), m_pump(std::move(pump)), m_progress(std::move(progress)) {}

Outcome<void> PackageDelta::fetch(const std::string& url, const signature::ReleaseLine& release,
                                  const std::string& installFolder, const std::string& tempFolder,
                                  const std::string& archive,
                                  const std::function<std::string(const std::string&)>& resolve) {
    try {
        return fetchSequence(url, release, installFolder, tempFolder, archive, resolve);
    } catch (const std::exception& failure) {
        // What reading or writing here raised.
        return needWholePackage(FetchFailureKind::localFiles, failure.what());
    }
}

Outcome<void>
PackageDelta::fetchSequence(const std::string& url, const signature::ReleaseLine& release,
                            const std::string& installFolder, const std::string& tempFolder,
                            const std::string& archive,
                            const std::function<std::string(const std::string&)>& resolve) {
    m_fetched.clear();
    m_entryFallbacks.clear();
    m_written.clear();
    m_umask = fileio::processUmask();
    if (!release.manifest) {
        return needWholePackage(FetchFailureKind::notOffered, "the release line names no manifest");
    }
    Package package{url, release.size, 0, {}};
    delta::PackageManifest manifest;
    if (!release.directory) {
        return needWholePackage(FetchFailureKind::notOffered,
                                "the release line does not name the package's directory");
    }
    if (auto fetched = fetchDirectory(package, *release.directory); !fetched) {
        return fetched;
    }
    if (auto clash = delta::flatNameClash(package.directory)) {
        return needWholePackage(FetchFailureKind::notOffered, *clash);
    }
    if (auto fetched = fetchManifest(package, *release.manifest, tempFolder, manifest); !fetched) {
        return fetched;
    }
    const auto chunkMap = fetchChunkMap(package, manifest, tempFolder);
    InstalledFiles installed(installFolder, resolve, m_pump);
    if (chunkMap) {
        installed.cutWhenHashing(chunkedPaths(manifest, *chunkMap), *chunkMap->sizes);
    }
    std::string why;
    const auto plan = delta::planDelta(
        manifest, package.directory, package.tailBytes,
        [&installed](const std::string& path, std::uint64_t size, const delta::Sha256& sha256) {
            return installed.holds(path, size, sha256);
        },
        why);
    if (!plan) {
        return needWholePackage(FetchFailureKind::notOffered,
                                "the manifest and the package's directory differ: " + why);
    }
    return fetchPlanned(package, manifest, *plan, chunkMap, tempFolder, archive, installed);
}

// What the plan and the chunks leave to fetch, fetched.
Outcome<void> PackageDelta::fetchPlanned(const Package& package,
                                         const delta::PackageManifest& manifest,
                                         const delta::DeltaPlan& plan,
                                         const std::optional<delta::ChunkMap>& chunkMap,
                                         const std::string& tempFolder, const std::string& archive,
                                         InstalledFiles& installed) {
    const std::vector<ChunkedJob> jobs = planChunked(manifest, plan, chunkMap, installed);
    std::vector<bool> placedApart(plan.entries.size(), false);
    std::uint64_t planned = plan.totalBytes();
    std::uint64_t received = package.tailBytes + plan.manifestSpan.length;
    for (const ChunkedJob& job : jobs) {
        placedApart[job.plannedIndex] = true;
        planned = planned - plan.entries[job.plannedIndex].span.length + job.plan.requestedBytes();
    }
    if (chunkMap) {
        // Received already, into the temp folder.
        const std::size_t index = package.directory.find(delta::chunkMapEntryName);
        for (std::size_t i = 0; i < plan.entries.size(); ++i) {
            if (plan.entries[i].directoryIndex == index) {
                placedApart[i] = true;
                received += plan.entries[i].span.length;
            }
        }
    }
    if (delta::savesNothing(planned, package.size)) {
        return needWholePackage(FetchFailureKind::notOffered,
                                "the installation holds too little of the release");
    }
    std::vector<Gathered> gathered;
    if (auto placed =
            placeEntries(package, manifest, plan, tempFolder, installed, placedApart, gathered);
        !placed) {
        return placed;
    }
    fetchChunked(package, manifest, plan, jobs, tempFolder, gathered, received, planned);
    return gather(package, std::move(gathered), archive, received, planned);
}

// The package's end, longer once when its directory needs it; its records
// must be the ones the signed line names.
Outcome<void> PackageDelta::fetchDirectory(Package& package,
                                           const signature::DirectoryDigest& signed_) {
    std::string tail;
    delta::DirectoryReading reading;
    for (std::uint64_t length = std::min(package.size, firstTail);;) {
        tail.clear();
        if (auto fetched = m_fetch.fetch(package.url, package.size - length, length, package.size,
                                         [&tail](const std::uint8_t* data, std::size_t size) {
                                             tail.append(reinterpret_cast<const char*>(data), size);
                                         });
            !fetched) {
            return fetched;
        }
        reading = delta::readPackageDirectory(
            std::span(reinterpret_cast<const unsigned char*>(tail.data()), tail.size()),
            package.size);
        if (reading.outcome != delta::DirectoryReading::Outcome::needsMore ||
            length == reading.bytesNeeded || reading.bytesNeeded > delta::longestFetchedTail ||
            reading.bytesNeeded > package.size) {
            break;
        }
        length = reading.bytesNeeded;
    }
    if (reading.outcome == delta::DirectoryReading::Outcome::needsMore) {
        return needWholePackage(FetchFailureKind::notOffered,
                                "the package's directory does not lie in its last " +
                                    std::to_string(tail.size()) + " bytes");
    }
    if (reading.outcome != delta::DirectoryReading::Outcome::read) {
        return needWholePackage(FetchFailureKind::notAsSigned,
                                "the package's directory: " + reading.why);
    }
    const auto tailBytes =
        std::span(reinterpret_cast<const unsigned char*>(tail.data()), tail.size());
    if (delta::directoryDigest(tailBytes, reading.directory) != signed_) {
        return needWholePackage(FetchFailureKind::notAsSigned,
                                "the package's directory is not the one the release line names");
    }
    package.tailBytes = tail.size();
    package.directory = std::move(reading.directory);
    return {};
}

// The manifest, exactly the one the signed line names, read only once it is
// known to be that one.
Outcome<void> PackageDelta::fetchManifest(const Package& package, const delta::Sha256& signed_,
                                          const std::string& tempFolder,
                                          delta::PackageManifest& manifest) {
    const std::size_t index = package.directory.find(delta::manifestEntryName);
    if (index == package.directory.entries.size()) {
        return needWholePackage(FetchFailureKind::notOffered, "the package has no manifest");
    }
    if (delta::savesNothing(package.tailBytes + package.directory.spans[index].length,
                            package.size)) {
        return needWholePackage(FetchFailureKind::notOffered,
                                "the package's directory and manifest are nearly all of it");
    }
    const std::string path = tempFolder + "/" + std::string(delta::manifestEntryName);
    if (auto received =
            receiveStored(package, index, path, "the manifest", signed_, "the release line names");
        !received) {
        return received;
    }
    std::string text;
    std::string why;
    if (const int error = fileio::readWholeFile(path, text)) {
        return needWholePackage(FetchFailureKind::localFiles,
                                "cannot read " + path + ": " + fileio::systemReason(error));
    }
    // Signed, yet not a manifest this updater reads: the release is not
    // made for it.
    auto parsed = delta::parseManifest(text, why);
    if (!parsed) {
        return needWholePackage(FetchFailureKind::notOffered, "the manifest: " + why);
    }
    manifest = std::move(*parsed);
    return {};
}

// A stored entry's span, its data written to path as it arrives and hashed
// on the way: the reason it is not the entry whose SHA-256 is expected.
Outcome<void> PackageDelta::receiveStored(const Package& package, std::size_t index,
                                          const std::string& path, const std::string& what,
                                          const delta::Sha256& expected,
                                          const std::string& vouchedBy) {
    fileio::UniqueFd fd =
        fileio::openFile(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (!fd) {
        return needWholePackage(FetchFailureKind::localFiles,
                                "cannot write " + path + ": " + fileio::systemReason(errno));
    }
    fileio::BufferedFile file(std::move(fd), manifestBuffer);
    delta::Sha256Digest digest(what);
    delta::StoredEntryReader reader(package.directory.entries[index], delta::mostManifestBytes,
                                    [&](std::span<const unsigned char> data) {
                                        digest.add(data.data(), data.size());
                                        (void)file.write(data.data(), data.size());
                                    });
    if (reader.problem()) {
        return needWholePackage(FetchFailureKind::notOffered, what + ": " + *reader.problem());
    }
    const delta::ByteSpan span = package.directory.spans[index];
    if (auto fetched = m_fetch.fetch(package.url, span.offset, span.length, package.size,
                                     [&reader](const std::uint8_t* data, std::size_t size) {
                                         reader.take(std::span(data, size));
                                     });
        !fetched) {
        return fetched;
    }
    if (auto failure = reader.finish()) {
        return needWholePackage(FetchFailureKind::notAsSigned, what + ": " + *failure);
    }
    if (const int error = file.close()) {
        return needWholePackage(FetchFailureKind::localFiles,
                                "cannot write " + path + ": " + fileio::systemReason(error));
    }
    if (digest.finish() != expected) {
        return needWholePackage(FetchFailureKind::notAsSigned,
                                what + " is not the one " + vouchedBy);
    }
    return {};
}

// What a full unpack brings that is not fetched: the files the installation
// already has, taken from it with the mode unpacking gives the listed one.
Outcome<void> PackageDelta::placeEntries(const Package& package,
                                         const delta::PackageManifest& manifest,
                                         const delta::DeltaPlan& plan,
                                         const std::string& tempFolder, InstalledFiles& installed,
                                         const std::vector<bool>& placedApart,
                                         std::vector<Gathered>& gathered) {
    for (std::size_t i = 0; i < plan.entries.size(); ++i) {
        const delta::PlannedEntry& planned = plan.entries[i];
        if (placedApart[i]) {
            continue;
        }
        const delta::ManifestEntry& listed = manifest.entries[planned.manifestIndex];
        const delta::DirectoryEntry& entry = package.directory.entries[planned.directoryIndex];
        const std::string name = tempFolder + "/" + delta::unpackedName(entry.name);
        if (planned.fetched) {
            gathered.push_back({&entry, planned.span, listed.mode});
            m_fetched.push_back({name, listed, delta::modifiedSeconds(entry)});
        } else if (auto taken = installed.take(listed.installedPath, name,
                                               fileio::unpackedFileMode(listed.mode, m_umask));
                   !taken) {
            return taken;
        }
    }
    return {};
}

// The entries fetched, side by side in one request where they lie so in the
// package, written into an archive of their own.
Outcome<void> PackageDelta::gather(const Package& package, std::vector<Gathered> entries,
                                   const std::string& archive, std::uint64_t received,
                                   std::uint64_t planned) {
    std::sort(entries.begin(), entries.end(),
              [](const Gathered& a, const Gathered& b) { return a.span.offset < b.span.offset; });
    PackageFile file(archive, deltaSource, PackageFile::Opening::empty);
    delta::GatheredArchive written(
        [&file](std::span<const unsigned char> bytes) { file.write(bytes.data(), bytes.size()); });
    m_progress(received, planned);
    for (std::size_t first = 0, next = 0; first < entries.size(); first = next) {
        std::uint64_t length = 0;
        for (next = first; next < entries.size() &&
                           entries[next].span.offset == entries[first].span.offset + length;
             ++next) {
            if (auto failure = written.add(*entries[next].entry, entries[next].span.length,
                                           entries[next].mode)) {
                return needWholePackage(FetchFailureKind::notOffered, *failure);
            }
            length += entries[next].span.length;
        }
        if (auto fetched =
                m_fetch.fetch(package.url, entries[first].span.offset, length, package.size,
                              [&](const std::uint8_t* data, std::size_t size) {
                                  written.write(std::span(data, size));
                                  received += size;
                                  m_progress(received, planned);
                              });
            !fetched) {
            return fetched;
        }
    }
    if (auto failure = written.finish()) {
        return needWholePackage(FetchFailureKind::notAsSigned, *failure);
    }
    file.close();
    return {};
}

Outcome<void> PackageDelta::finishUnpacked() const {
    for (const auto& [path, listed, modified] : m_fetched) {
        try {
            const auto written = m_written.find(path);
            if (auto same = differenceFromListed(
                    path, listed, fileio::unpackedFileMode(listed.mode, m_umask),
                    written != m_written.end() ? &written->second : nullptr, modified);
                !same) {
                return same;
            }
        } catch (const delta::DeltaError& failure) {
            return needWholePackage(FetchFailureKind::localFiles, failure.what());
        }
    }
    return {};
}

} // namespace updater
