#include "ReleaseManifest.h"

#include "ChunkMapCheck.h"

#include "delta/DeltaError.h"
#include "delta/DeltaPlan.h"
#include "delta/FileChunks.h"
#include "publisher/PublishError.h"

#include <algorithm>
#include <sys/stat.h>

namespace publisher {

namespace {

delta::Sha256 digestOfFile(const std::string& path) {
    try {
        return delta::sha256OfFile(path);
    } catch (const delta::DeltaError& failure) {
        throw PublishError(failure.what());
    }
}

// The file's chunks into entry, and its SHA-256.
delta::Sha256 cutFile(int fd, const std::string& path, delta::ChunkedEntry& entry) {
    entry.entryName = path;
    delta::Sha256Digest whole(path);
    delta::cutOpenFile(
        fd, path, zipformat::ChunkSizes{},
        [&entry](std::uint64_t, std::uint64_t size, const delta::Sha256& sha256) {
            entry.chunks.push_back({size, 0, delta::chunkDigestOf(sha256)});
        },
        &whole);
    return whole.finish();
}

PublishError manifestRefused(const std::string& why) {
    return PublishError("the package's manifest does not describe it: " + why);
}

} // namespace

delta::PackageManifest releaseManifest(const Release& release, const std::string& writtenFolder,
                                       std::vector<delta::ChunkedEntry>* chunks) {
    delta::PackageManifest manifest;
    for (const ReleaseFile& file : release.files) {
        const fileio::UniqueFd fd = openAsRead(release, file);
        delta::Sha256 digest{};
        try {
            if (chunks != nullptr && release.chunked(file)) {
                digest = cutFile(fd.get(), file.path, chunks->emplace_back());
            } else {
                digest = delta::sha256OfOpenFile(fd.get(), file.path);
            }
        } catch (const delta::DeltaError& failure) {
            throw PublishError(failure.what());
        }
        manifest.entries.push_back({file.path, file.path, file.size, file.mode, digest});
    }
    if (!writtenFolder.empty()) {
        const std::string path = writtenFolder + "/" + instructionFileName;
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) {
            throw PublishError("cannot read " + path);
        }
        manifest.entries.push_back(
            {instructionFileName, instructionFileName, static_cast<std::uint64_t>(status.st_size),
             static_cast<std::uint16_t>(status.st_mode & 07777), digestOfFile(path)});
    }
    return manifest;
}

delta::ChunkMap chunkMapOf(std::vector<delta::ChunkedEntry> cut,
                           const std::vector<WrittenChunk>& written) {
    delta::ChunkMap map;
    map.sizes = zipformat::ChunkSizes{};
    std::size_t next = 0;
    for (delta::ChunkedEntry& entry : cut) {
        for (delta::MapChunk& chunk : entry.chunks) {
            if (next == written.size() || written[next].entryName != entry.entryName ||
                written[next].size != chunk.size) {
                throw PublishError("the zip library cut " + entry.entryName +
                                   " into other chunks than the tool did");
            }
            chunk.compressedSize = written[next++].compressedSize;
        }
        map.entries.push_back(std::move(entry));
    }
    if (next != written.size()) {
        throw PublishError("the zip library cut " + written[next].entryName +
                           " into chunks the tool did not");
    }
    return map;
}

void checkManifest(const std::string& archivePath, const std::string& checkFolder) {
    const delta::LocalPackage package = localPackageAt(archivePath);
    const delta::PackageDirectory& directory = package.directory;
    if (!package.manifestBytes) {
        throw manifestRefused("it has no entry " + std::string(delta::manifestEntryName));
    }
    const std::size_t manifestIndex = directory.find(delta::manifestEntryName);
    const auto last = std::max_element(
        directory.spans.begin(), directory.spans.end(),
        [](const delta::ByteSpan& a, const delta::ByteSpan& b) { return a.offset < b.offset; });
    if (last != directory.spans.begin() + static_cast<std::ptrdiff_t>(manifestIndex)) {
        throw manifestRefused("it is not the package's last entry");
    }
    std::string why;
    const auto manifest = delta::parseManifest(*package.manifestBytes, why);
    if (!manifest) {
        throw manifestRefused(why);
    }
    const auto plan = delta::planDelta(
        *manifest, directory, package.tailBytes,
        [](const std::string&, std::uint64_t, const delta::Sha256&) { return false; }, why);
    if (!plan) {
        throw manifestRefused(why);
    }
    checkChunkMap(archivePath, directory, checkFolder);
    // The update unpacks every file into one folder, by its name alone.
    for (const delta::ManifestEntry& entry : manifest->entries) {
        const std::string name = entry.entryName.substr(entry.entryName.rfind('/') + 1);
        if (digestOfFile(checkFolder + "/" + name) != entry.sha256) {
            throw manifestRefused("the SHA-256 it gives " + entry.entryName +
                                  " is not that of the entry");
        }
    }
}

delta::LocalPackage localPackageAt(const std::string& path) {
    try {
        return delta::readLocalPackage(path);
    } catch (const delta::DeltaError& failure) {
        throw PublishError(failure.what());
    }
}

std::optional<ManifestDigests> manifestDigestOf(const std::string& packagePath) {
    const delta::LocalPackage package = localPackageAt(packagePath);
    if (!package.manifestBytes) {
        return std::nullopt;
    }
    return ManifestDigests{delta::sha256Of(*package.manifestBytes), package.directorySha256};
}

} // namespace publisher
