#include "zipformat/ContentChunker.h"

#include <algorithm>
#include <array>
#include <bit>

namespace zipformat {

namespace {

// A fixed table of 256 well-mixed words (splitmix64 from a fixed seed), so
// that every writer and reader cuts alike.
constexpr std::array<std::uint64_t, 256> makeGear() {
    std::array<std::uint64_t, 256> gear{};
    std::uint64_t state = 0x6d6f7276616e6521ull;
    for (std::uint64_t& word : gear) {
        state += 0x9e3779b97f4a7c15ull;
        std::uint64_t mixed = state;
        mixed = (mixed ^ (mixed >> 30)) * 0xbf58476d1ce4e5b9ull;
        mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111ebull;
        word = mixed ^ (mixed >> 31);
    }
    return gear;
}

constexpr std::array<std::uint64_t, 256> gear = makeGear();

// The top bits of the hash: they depend on the last 64 bytes, the low ones
// on only the last few.
std::uint64_t topBits(unsigned count) {
    return count == 0 ? 0 : ~std::uint64_t{0} << (64 - count);
}

} // namespace

bool usableChunkSizes(const ChunkSizes& sizes) {
    return sizes.minimum >= smallestChunkSetting && sizes.minimum <= sizes.average &&
           sizes.average <= sizes.maximum && sizes.maximum <= largestChunkSetting &&
           std::has_single_bit(sizes.average);
}

ContentChunker::ContentChunker(const ChunkSizes& sizes) : m_sizes(sizes) {
    const auto bits = static_cast<unsigned>(std::countr_zero(sizes.average));
    // One bit more before the average and one fewer after it keeps most
    // chunks near the average.
    m_strictMask = topBits(bits + 1);
    m_looseMask = topBits(bits - 1);
}

std::optional<std::size_t> ContentChunker::cut(std::span<const unsigned char> data) {
    const unsigned char* const begin = data.data();
    const unsigned char* at = begin;
    const unsigned char* const end = begin + data.size();
    // The bytes before the minimum are hashed without a test, and the 64
    // before it are all the first test sees: the ones before those are only
    // counted. Each stretch runs without a test of the length per byte.
    const auto stretchEnd = [&](std::uint64_t length) {
        return length <= m_length
                   ? at
                   : at + std::min<std::uint64_t>(length - m_length,
                                                  static_cast<std::uint64_t>(end - at));
    };
    const auto advance = [&](const unsigned char* to) {
        m_length += static_cast<std::uint64_t>(to - at);
        at = to;
    };
    const auto cutHere = [&]() -> std::size_t {
        m_hash = 0;
        m_length = 0;
        return static_cast<std::size_t>(at - begin);
    };
    advance(stretchEnd(m_sizes.minimum - 64));
    const unsigned char* stop = stretchEnd(m_sizes.minimum - 1);
    std::uint64_t hash = m_hash;
    for (const unsigned char* p = at; p < stop; ++p) {
        hash = (hash << 1) + gear[*p];
    }
    advance(stop);
    for (const std::uint64_t mask : {m_strictMask, m_looseMask}) {
        stop = stretchEnd(mask == m_strictMask ? m_sizes.average - 1 : m_sizes.maximum);
        for (const unsigned char* p = at; p < stop; ++p) {
            hash = (hash << 1) + gear[*p];
            if ((hash & mask) == 0) {
                stop = p + 1;
                advance(stop);
                return cutHere();
            }
        }
        advance(stop);
    }
    if (m_length >= m_sizes.maximum) {
        return cutHere();
    }
    m_hash = hash;
    return std::nullopt;
}

std::vector<std::uint64_t> chunkLengths(std::span<const unsigned char> data,
                                        const ChunkSizes& sizes) {
    std::vector<std::uint64_t> lengths;
    ContentChunker chunker(sizes);
    while (!data.empty()) {
        const auto at = chunker.cut(data);
        if (!at) {
            lengths.push_back(chunker.pending());
            break;
        }
        lengths.push_back(*at);
        data = data.subspan(*at);
    }
    return lengths;
}

} // namespace zipformat
