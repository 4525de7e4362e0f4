#pragma once

// The chunk map a package carries beside its manifest, as a stored entry of
// its own that the manifest lists (so it is as trusted as the manifest, and
// an updater that knows nothing of chunks fetches it as one more small
// entry): for every entry deflated in chunks, the chunks in order, so that
// an installation fetches only the chunks it lacks. The format:
//
//   morvane-chunks v1
//   chunker <name> <minimum> <average> <maximum>
//   entry <entry name>
//   chunk <size> <compressed size> <digest: the first 16 bytes of its SHA-256, lower-case hex>
//   ...
//
// UTF-8, every line ended by LF; the entry name escaped as in the manifest.
// The chunker line comes once, before the first entry; each entry line is
// followed by its chunk lines, at least one. A line whose first word is none
// of these is read past, so that a later tool may add lines; a chunker of
// another name leaves the map without a chunker this reader can use. Chunk
// i's compressed bytes begin at the entry's data plus the compressed sizes
// of the chunks before it and inflate alone (see zipformat/ContentChunker.h).

#include "delta/Sha256.h"
#include "zipformat/ContentChunker.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace delta {

inline constexpr std::string_view chunkMapEntryName = "morvane.chunks";
inline constexpr std::string_view chunkMapFirstLine = "morvane-chunks v1";

// A chunk's digest: the first half of the SHA-256 of its bytes, enough to
// tell chunks apart (the whole file's SHA-256 is checked besides) and half
// the bytes in the map.
using ChunkDigest = std::array<std::uint8_t, 16>;
ChunkDigest chunkDigestOf(const Sha256& sha256);

struct MapChunk {
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    ChunkDigest digest{};

    bool operator==(const MapChunk&) const = default;
};

struct ChunkedEntry {
    std::string entryName;
    std::vector<MapChunk> chunks;

    bool operator==(const ChunkedEntry&) const = default;
};

struct ChunkMap {
    std::string chunker{zipformat::chunkerName};
    // Nothing when the chunker is not the one this reader knows.
    std::optional<zipformat::ChunkSizes> sizes;
    std::vector<ChunkedEntry> entries;

    // The entry of this name, or null.
    const ChunkedEntry* find(std::string_view entryName) const;
    bool operator==(const ChunkMap&) const = default;
};

// The map's text; sizes must be set.
std::string formatChunkMap(const ChunkMap& map);

// The map in text, or nothing with the reason in why (naming the line):
// another first line, no chunker line before the first entry or two of
// them, a known chunker with sizes it cannot use, a chunk line before any
// entry, an entry without chunks or named twice, a number, digest or name
// of another form, a chunk of no bytes or, for a known chunker, longer than
// its maximum, a compressed size past what deflate can make of the chunk's
// size, an entry whose chunks' sizes or compressed sizes come to 2^63 or
// more, a line without its LF, or more than mostManifestBytes.
std::optional<ChunkMap> parseChunkMap(std::string_view text, std::string& why);

} // namespace delta
