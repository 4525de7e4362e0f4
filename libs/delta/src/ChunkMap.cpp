#include "delta/ChunkMap.h"

#include "DecimalSize.h"
#include "NameEscapes.h"
#include "TextLines.h"
#include "delta/Manifest.h"
#include "text/Hex.h"
#include "text/Pieces.h"

#include <algorithm>
#include <unordered_set>
#include <zlib.h>

namespace delta {

namespace {

// The most compressed bytes deflate makes of size bytes, ended by a full
// flush: zlib's bound, which leaves room for its own six header and trailer
// bytes that a raw stream has not, and the flush's five-byte marker. A map
// that lists more lies, and would have the updater fetch bytes no chunk has.
std::uint64_t mostCompressedBytes(std::uint64_t size) {
    constexpr std::uint64_t flushMarker = 5;
    return compressBound(static_cast<uLong>(size)) + flushMarker;
}

// Totals of one entry's chunks, kept below 2^63 like every size in the map,
// so that no sum an update makes of them can wrap.
bool addWithin(std::uint64_t& total, std::uint64_t size) {
    constexpr std::uint64_t limit = std::uint64_t{1} << 63;
    if (size >= limit - total) {
        return false;
    }
    total += size;
    return true;
}

// The map being read, line by line.
class MapReading {
public:
    // The reason the line is refused, or the empty text.
    std::string take(const std::vector<std::string>& fields);
    std::string finish();
    ChunkMap result() { return std::move(m_map); }

private:
    std::string chunkerLine(const std::vector<std::string>& fields);
    std::string entryLine(const std::vector<std::string>& fields);
    std::string chunkLine(const std::vector<std::string>& fields);

    ChunkMap m_map;
    bool m_chunkerRead = false;
    // The current entry's chunks in all.
    std::uint64_t m_entrySize = 0;
    std::uint64_t m_entryCompressed = 0;
    std::unordered_set<std::string> m_names;
};

std::string MapReading::take(const std::vector<std::string>& fields) {
    const std::string word = fields.empty() ? std::string() : fields.front();
    if (word == "chunker") {
        return chunkerLine(fields);
    }
    if (word == "entry") {
        return entryLine(fields);
    }
    if (word == "chunk") {
        return chunkLine(fields);
    }
    return {};
}

std::string MapReading::chunkerLine(const std::vector<std::string>& fields) {
    if (m_chunkerRead) {
        return "a second chunker line";
    }
    if (fields.size() != 5 || fields[1].empty()) {
        return "a chunker line is its name and three sizes";
    }
    m_chunkerRead = true;
    m_map.chunker = fields[1];
    const auto minimum = decimalSize(fields[2]);
    const auto average = decimalSize(fields[3]);
    const auto maximum = decimalSize(fields[4]);
    if (!minimum || !average || !maximum) {
        return "the chunker's sizes are not decimal numbers";
    }
    if (m_map.chunker != zipformat::chunkerName) {
        return {};
    }
    const zipformat::ChunkSizes sizes{static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                          *minimum, zipformat::largestChunkSetting + 1)),
                                      static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                          *average, zipformat::largestChunkSetting + 1)),
                                      static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                          *maximum, zipformat::largestChunkSetting + 1))};
    if (!zipformat::usableChunkSizes(sizes)) {
        return "the chunker cannot cut with these sizes";
    }
    m_map.sizes = sizes;
    return {};
}

std::string MapReading::entryLine(const std::vector<std::string>& fields) {
    if (!m_chunkerRead) {
        return "an entry before the chunker line";
    }
    if (!m_map.entries.empty() && m_map.entries.back().chunks.empty()) {
        return "the entry before it has no chunks";
    }
    auto name = fields.size() == 2 ? unescapedName(fields[1]) : std::nullopt;
    if (!name || name->empty() || name->size() > mostNameBytes) {
        return "an entry line is one escaped name of 1 to " + std::to_string(mostNameBytes) +
               " bytes";
    }
    if (!m_names.insert(*name).second) {
        return "a second entry line for \"" + fields[1] + "\"";
    }
    m_map.entries.push_back({std::move(*name), {}});
    m_entrySize = 0;
    m_entryCompressed = 0;
    return {};
}

std::string MapReading::chunkLine(const std::vector<std::string>& fields) {
    if (m_map.entries.empty()) {
        return "a chunk before any entry";
    }
    if (fields.size() != 4) {
        return "a chunk line is its size, its compressed size and its SHA-256";
    }
    const auto size = decimalSize(fields[1]);
    const auto compressedSize = decimalSize(fields[2]);
    const auto digest = text::bytesFromLowerHex<std::tuple_size_v<ChunkDigest>>(fields[3]);
    if (!size || !compressedSize || *size == 0 || *compressedSize == 0) {
        return "a chunk's sizes are not decimal numbers above 0";
    }
    if (m_map.sizes && *size > m_map.sizes->maximum) {
        return "a chunk is longer than the chunker's maximum";
    }
    if (*compressedSize > mostCompressedBytes(*size)) {
        return "a chunk's compressed size is more than deflate makes of its size";
    }
    if (!addWithin(m_entrySize, *size) || !addWithin(m_entryCompressed, *compressedSize)) {
        return "an entry's chunks come to 2^63 bytes or more";
    }
    if (!digest) {
        return "a chunk's digest is not 32 lower-case hex digits";
    }
    m_map.entries.back().chunks.push_back({*size, *compressedSize, *digest});
    return {};
}

std::string MapReading::finish() {
    if (!m_map.entries.empty() && m_map.entries.back().chunks.empty()) {
        return "its last entry has no chunks";
    }
    return m_chunkerRead ? std::string() : "it has no chunker line";
}

} // namespace

ChunkDigest chunkDigestOf(const Sha256& sha256) {
    ChunkDigest digest{};
    std::copy_n(sha256.begin(), digest.size(), digest.begin());
    return digest;
}

const ChunkedEntry* ChunkMap::find(std::string_view entryName) const {
    const auto found = std::find_if(entries.begin(), entries.end(), [entryName](const auto& entry) {
        return entry.entryName == entryName;
    });
    return found == entries.end() ? nullptr : &*found;
}

std::string formatChunkMap(const ChunkMap& map) {
    std::string text(chunkMapFirstLine);
    text += "\nchunker " + map.chunker + ' ' + std::to_string(map.sizes->minimum) + ' ' +
            std::to_string(map.sizes->average) + ' ' + std::to_string(map.sizes->maximum) + '\n';
    for (const ChunkedEntry& entry : map.entries) {
        text += "entry " + escapedName(entry.entryName) + '\n';
        for (const MapChunk& chunk : entry.chunks) {
            text += "chunk " + std::to_string(chunk.size) + ' ' +
                    std::to_string(chunk.compressedSize) + ' ' + text::lowerHexOf(chunk.digest) +
                    '\n';
        }
    }
    return text;
}

std::optional<ChunkMap> parseChunkMap(std::string_view text, std::string& why) {
    if (text.size() > mostManifestBytes) {
        why = "it has more than " + std::to_string(mostManifestBytes) + " bytes";
        return std::nullopt;
    }
    MapReading reading;
    if (!readLines(
            text, chunkMapFirstLine,
            [&reading](std::string_view line) { return reading.take(text::splitText(line, ' ')); },
            why)) {
        return std::nullopt;
    }
    if (std::string endWhy = reading.finish(); !endWhy.empty()) {
        why = endWhy;
        return std::nullopt;
    }
    return reading.result();
}

} // namespace delta
