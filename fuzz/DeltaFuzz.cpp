// What a server could send for an update that fetches only what an
// installation lacks: any bytes as a package's tail (of the package itself,
// and of a package 4 KiB longer), and any bytes as its manifest. Besides
// crashes it checks the readers' promises: a directory read has spans
// inside the package before its directory that do not overlap, a tail too
// short asks for more than it had and no more than the package, a manifest
// read writes back as the very same text, and a plan of a manifest read
// from the package's own manifest entry fetches no more than its spans.

#include "delta/DeltaPlan.h"
#include "delta/Manifest.h"
#include "delta/PackageDirectory.h"
#include "delta/StoredEntry.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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
    std::vector<delta::ByteSpan> spans = directory.spans;
    std::sort(spans.begin(), spans.end(),
              [](const auto& a, const auto& b) { return a.offset < b.offset; });
    std::uint64_t end = 0;
    std::uint64_t total = 0;
    for (const delta::ByteSpan& span : spans) {
        require(span.offset >= end && span.length > 0);
        end = span.offset + span.length;
        total += span.length;
    }
    require(end <= directory.directoryOffset && directory.directoryOffset <= packageSize);

    // The manifest out of its span, when the span is in the bytes given.
    const std::size_t index = directory.find(delta::manifestEntryName);
    const std::uint64_t tailStart = packageSize - tail.size();
    if (index == directory.entries.size() || directory.spans[index].offset < tailStart) {
        return;
    }
    const delta::ByteSpan span = directory.spans[index];
    std::string why;
    const auto bytes = delta::storedEntryBytes(tail.subspan(span.offset - tailStart, span.length),
                                               directory.entries[index], why);
    if (!bytes) {
        return;
    }
    checkManifest(*bytes);
    const auto manifest = delta::parseManifest(*bytes, why);
    if (!manifest) {
        return;
    }
    const auto plan = delta::planDelta(
        *manifest, directory, tail.size(),
        [](const std::string& path, std::uint64_t, const delta::Sha256&) {
            return path.size() % 2 == 0;
        },
        why);
    if (plan) {
        require(plan->fetchedBytes <= total && plan->fetchedCount <= manifest->entries.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const unsigned char> bytes(data, size);
    checkDirectory(bytes, size);
    checkDirectory(bytes, size + 4096);
    checkManifest(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
