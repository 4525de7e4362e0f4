// What a server could send for an update that fetches only what an
// installation lacks: any bytes as a package's tail (of the package itself,
// and of a package 4 KiB longer), and any bytes as its manifest. Besides
// crashes it checks the readers' promises: a directory read has spans
// inside the package before its directory that do not overlap and are no
// longer than their entries can need, a tail too short asks for more than it
// had and no more than the package, a manifest read writes back as the very
// same text, and a plan of a manifest read from the package's own manifest
// entry fetches no more than its spans. Whatever directory it read, the
// archive of its entries the update would write (with the manifest's modes
// where a plan gives them) reads back with exactly the entries it was given.
// The same bytes as a chunk map: one read writes back as text that reads as
// the same map; and as a chunk's compressed bytes: inflating them alone
// never gives more than the chunk's listed size, and they count only when
// they inflate to exactly it.

#include "delta/ChunkInflater.h"
#include "delta/ChunkMap.h"
#include "delta/ChunkPlan.h"
#include "delta/DeltaPlan.h"
#include "delta/GatheredArchive.h"
#include "delta/Manifest.h"
#include "delta/PackageDirectory.h"
#include "delta/StoredEntry.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void checkManifest(std::string_view text) {
    std::string why;
    if (const auto manifest = delta::parseManifest(text, why)) {
        require(delta::formatManifest(*manifest) == text);
    } else {
        require(!why.empty());
    }
}

void checkChunkMap(std::string_view text) {
    std::string why;
    const auto map = delta::parseChunkMap(text, why);
    if (!map) {
        require(!why.empty());
        return;
    }
    if (!map->sizes) {
        return;
    }
    const auto again = delta::parseChunkMap(delta::formatChunkMap(*map), why);
    require(again && *again == *map);
    // Planned against an installed file that holds every other chunk.
    for (const delta::ChunkedEntry& entry : map->entries) {
        delta::HeldChunks held;
        for (std::size_t i = 0; i < entry.chunks.size(); i += 2) {
            held.try_emplace(entry.chunks[i].digest, delta::HeldChunk{0, entry.chunks[i].size});
        }
        const delta::ChunkPlan plan = delta::planChunks(entry, held);
        std::uint64_t compressed = 0;
        for (const delta::MapChunk& chunk : entry.chunks) {
            compressed += chunk.compressedSize;
        }
        require(plan.steps.size() == entry.chunks.size() && plan.fetchedBytes <= compressed);
    }
}

// The bytes as one chunk's compressed bytes, listed with a size the first
// bytes give.
void checkChunkBytes(std::span<const unsigned char> bytes) {
    if (bytes.size() < 2) {
        return;
    }
    const delta::MapChunk chunk{static_cast<std::uint64_t>(bytes[0]) * 1024 + bytes[1] + 1,
                                bytes.size() - 2, delta::chunkDigestOf(delta::sha256Of(""))};
    std::uint64_t given = 0;
    delta::ChunkInflater inflater(
        [&given](std::span<const unsigned char> out) { given += out.size(); });
    inflater.start(chunk, (bytes[0] & 1) != 0);
    require(inflater.take(bytes.subspan(2)) == bytes.size() - 2);
    const auto why = inflater.finish();
    require(given <= chunk.size);
    // The digest listed is of no bytes, which no chunk of a byte or more has.
    require(why.has_value());
}

// The archive of every entry the writer takes, each span's bytes zeros, read
// back: the same entries in the order given, with the modes given, spans
// back to back.
void checkGathered(const delta::PackageDirectory& directory,
                   const std::function<std::uint16_t(std::size_t)>& modeOf) {
    std::string archive;
    delta::GatheredArchive writer([&archive](std::span<const unsigned char> bytes) {
        archive.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    });
    std::vector<std::size_t> added;
    const std::string zeros(4096, '\0');
    const auto* zeroBytes = reinterpret_cast<const unsigned char*>(zeros.data());
    for (std::size_t i = 0; i < directory.entries.size(); ++i) {
        if (writer.add(directory.entries[i], directory.spans[i].length, modeOf(i))) {
            continue;
        }
        for (std::uint64_t left = directory.spans[i].length; left > 0;) {
            const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, 4096));
            writer.write(std::span(zeroBytes, piece));
            left -= piece;
        }
        added.push_back(i);
    }
    if (writer.finish()) {
        return; // names that would read as a large archive's locator
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(archive.data());
    const delta::DirectoryReading reading =
        delta::readPackageDirectory(std::span(bytes, archive.size()), archive.size());
    require(reading.outcome == delta::DirectoryReading::Outcome::read);
    require(reading.directory.entries.size() == added.size());
    std::uint64_t offset = 0;
    for (std::size_t k = 0; k < added.size(); ++k) {
        const delta::DirectoryEntry& got = reading.directory.entries[k];
        const delta::DirectoryEntry& given = directory.entries[added[k]];
        require(got.name == given.name && got.method == given.method && got.flags == given.flags &&
                got.crc32 == given.crc32 && got.size == given.size &&
                got.compressedSize == given.compressedSize);
        require(got.externalAttributes >> 16 == (0100000u | (modeOf(added[k]) & 07777u)));
        require(reading.directory.spans[k] ==
                (delta::ByteSpan{offset, directory.spans[added[k]].length}));
        offset += directory.spans[added[k]].length;
    }
}

// The manifest out of its span, when the span is in the bytes given; and
// the plan it makes with the directory.
std::optional<delta::DeltaPlan> planFromTail(std::span<const unsigned char> tail,
                                             std::uint64_t packageSize,
                                             const delta::PackageDirectory& directory,
                                             delta::PackageManifest& manifest) {
    const std::size_t index = directory.find(delta::manifestEntryName);
    const std::uint64_t tailStart = packageSize - tail.size();
    if (index == directory.entries.size() || directory.spans[index].offset < tailStart) {
        return std::nullopt;
    }
    const delta::ByteSpan span = directory.spans[index];
    std::string text;
    delta::StoredEntryReader reader(directory.entries[index], delta::mostManifestBytes,
                                    [&text](std::span<const unsigned char> data) {
                                        text.append(reinterpret_cast<const char*>(data.data()),
                                                    data.size());
                                    });
    reader.take(tail.subspan(span.offset - tailStart, span.length));
    if (reader.finish()) {
        return std::nullopt;
    }
    checkManifest(text);
    std::string why;
    auto parsed = delta::parseManifest(text, why);
    if (!parsed) {
        return std::nullopt;
    }
    manifest = std::move(*parsed);
    return delta::planDelta(
        manifest, directory, tail.size(),
        [](const std::string& path, std::uint64_t, const delta::Sha256&) {
            return path.size() % 2 == 0;
        },
        why);
}

void checkDirectory(std::span<const unsigned char> tail, std::uint64_t packageSize) {
    const delta::DirectoryReading reading = delta::readPackageDirectory(tail, packageSize);
    if (reading.outcome == delta::DirectoryReading::Outcome::needsMore) {
        require(reading.bytesNeeded > tail.size() && reading.bytesNeeded <= packageSize);
        return;
    }
    if (reading.outcome == delta::DirectoryReading::Outcome::refused) {
        require(!reading.why.empty());
        return;
    }
    const delta::PackageDirectory& directory = reading.directory;
    require(directory.spans.size() == directory.entries.size());
    std::vector<std::size_t> byOffset(directory.spans.size());
    for (std::size_t i = 0; i < byOffset.size(); ++i) {
        byOffset[i] = i;
        require(directory.spans[i].length <= delta::longestSpan(directory.entries[i]));
    }
    std::sort(byOffset.begin(), byOffset.end(), [&](std::size_t a, std::size_t b) {
        return directory.spans[a].offset < directory.spans[b].offset;
    });
    std::uint64_t end = 0;
    std::uint64_t total = 0;
    for (const std::size_t i : byOffset) {
        require(directory.spans[i].offset >= end && directory.spans[i].length > 0);
        end = directory.spans[i].offset + directory.spans[i].length;
        total += directory.spans[i].length;
    }
    require(end <= directory.directoryOffset && directory.directoryOffset <= packageSize);

    delta::PackageManifest manifest;
    const auto plan = planFromTail(tail, packageSize, directory, manifest);
    if (plan) {
        require(plan->fetchedBytes <= total && plan->fetchedCount <= manifest.entries.size());
    }
    checkGathered(directory, [&](std::size_t index) -> std::uint16_t {
        if (plan) {
            for (const delta::PlannedEntry& entry : plan->entries) {
                if (entry.directoryIndex == index) {
                    return manifest.entries[entry.manifestIndex].mode;
                }
            }
        }
        return static_cast<std::uint16_t>(directory.entries[index].crc32 & 07777);
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const unsigned char> bytes(data, size);
    checkDirectory(bytes, size);
    checkDirectory(bytes, size + 4096);
    checkManifest(std::string_view(reinterpret_cast<const char*>(data), size));
    checkChunkMap(std::string_view(reinterpret_cast<const char*>(data), size));
    checkChunkBytes(bytes);
    return 0;
}
