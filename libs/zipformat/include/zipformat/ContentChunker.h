#pragma once

// Where an entry's data is cut into chunks that each deflate alone: the
// zip library ends every chunk's compressed bytes with a full flush, the
// publisher's tool lists the chunks, and an updater cuts the installed file
// the same way to find the chunks it already holds. A cut depends only on
// the bytes since the chunk began (a gear hash over them, its high bits
// tested against a mask that is strict before the average length and loose
// after it), so an insertion moves the cuts near it and not the ones after.
//
// The gear table and the rule are part of the published chunk map: changing
// either one changes every map, and needs a new chunker name in it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace zipformat {

// The name the chunk map gives this rule.
inline constexpr std::string_view chunkerName = "gear64";

struct ChunkSizes {
    std::uint32_t minimum = 16 * 1024;
    std::uint32_t average = 64 * 1024;
    std::uint32_t maximum = 256 * 1024;

    bool operator==(const ChunkSizes&) const = default;
};

inline constexpr std::uint32_t smallestChunkSetting = 256;
inline constexpr std::uint32_t largestChunkSetting = 64u << 20;

// Whether the rule can work with these sizes: smallestChunkSetting <=
// minimum <= average <= maximum <= largestChunkSetting and average a power
// of two.
bool usableChunkSizes(const ChunkSizes& sizes);

class ContentChunker {
public:
    // sizes must be usable.
    explicit ContentChunker(const ChunkSizes& sizes);

    // How many bytes at data's start end the chunk under way, after which a
    // new chunk begins; nothing when every byte of data belongs to it. The
    // bytes that remain when the data ends make the last chunk.
    std::optional<std::size_t> cut(std::span<const unsigned char> data);

    // The bytes given to the chunk under way so far.
    std::uint64_t pending() const { return m_length; }

private:
    ChunkSizes m_sizes;
    std::uint64_t m_strictMask = 0;
    std::uint64_t m_looseMask = 0;
    std::uint64_t m_hash = 0;
    std::uint64_t m_length = 0;
};

// The chunks' lengths, in order, of data cut whole (empty data: none).
std::vector<std::uint64_t> chunkLengths(std::span<const unsigned char> data,
                                        const ChunkSizes& sizes);

} // namespace zipformat
