#include "Sha1.h"

#include <utility>

namespace zipformat::sha1 {

namespace {

constexpr std::uint32_t rotateLeft(std::uint32_t value, int count) {
    return (value << count) | (value >> (32 - count));
}

// Round I of eighty. Everything that depends on I is settled when compiling,
// so the rounds unroll into register work with no branches or memory the
// sanitizers would check: under them a looped form is several times slower.
template <int I> [[gnu::always_inline]] inline void round(Block& words, State& v) {
    std::uint32_t word = words[I % 16];
    if constexpr (I >= 16) {
        word =
            rotateLeft(words[(I + 13) % 16] ^ words[(I + 8) % 16] ^ words[(I + 2) % 16] ^ word, 1);
        words[I % 16] = word;
    }
    // The five working variables rotate through v instead of being moved.
    const std::uint32_t a = v[(80 - I) % 5];
    std::uint32_t& b = v[(81 - I) % 5];
    const std::uint32_t c = v[(82 - I) % 5];
    const std::uint32_t d = v[(83 - I) % 5];
    std::uint32_t& e = v[(84 - I) % 5];
    std::uint32_t mixed = 0;
    std::uint32_t constant = 0;
    if constexpr (I < 20) {
        mixed = (b & c) | (~b & d);
        constant = 0x5A827999;
    } else if constexpr (I < 40) {
        mixed = b ^ c ^ d;
        constant = 0x6ED9EBA1;
    } else if constexpr (I < 60) {
        mixed = (b & c) | (b & d) | (c & d);
        constant = 0x8F1BBCDC;
    } else {
        mixed = b ^ c ^ d;
        constant = 0xCA62C1D6;
    }
    e += rotateLeft(a, 5) + mixed + constant + word;
    b = rotateLeft(b, 30);
}

template <std::size_t... I>
[[gnu::always_inline]] inline State rounds(const State& state, Block words,
                                           std::index_sequence<I...>) {
    State v = state;
    (round<static_cast<int>(I)>(words, v), ...);
    return {state[0] + v[0], state[1] + v[1], state[2] + v[2], state[3] + v[3], state[4] + v[4]};
}

} // namespace

// Only its own locals and its two arguments are touched here, two thousand
// times a key: exempt from the sanitizers' checks, which would double its
// time in the checked builds (the fuzz targets derive many keys).
__attribute__((no_sanitize("address", "undefined"))) State compressPortably(const State& state,
                                                                            const Block& block) {
    return rounds(state, block, std::make_index_sequence<80>{});
}

State compress(const State& state, const Block& block) {
    static const CompressFunction chosen =
        compressOnInstructions() != nullptr ? compressOnInstructions() : &compressPortably;
    return chosen(state, block);
}

namespace {

void compressEachPortably(const State& state, const Block* blocks, State* next, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        next[i] = compressPortably(state, blocks[i]);
    }
}

} // namespace

CompressSideBySideFunction chosenCompressSideBySide() {
    static const CompressSideBySideFunction chosen = compressSideBySideOnInstructions() != nullptr
                                                         ? compressSideBySideOnInstructions()
                                                         : &compressEachPortably;
    return chosen;
}

void Hasher::put(unsigned char byte) {
    const auto at = static_cast<std::size_t>(m_length % blockSize);
    m_block[at / 4] |= static_cast<std::uint32_t>(byte) << (24 - 8 * (at % 4));
    ++m_length;
    if (at == blockSize - 1) {
        m_state = compress(m_state, m_block);
        m_block = {};
    }
}

void Hasher::update(std::span<const unsigned char> bytes) {
    for (const unsigned char byte : bytes) {
        put(byte);
    }
}

State Hasher::finish() {
    const std::uint64_t bits = m_length * 8;
    put(0x80);
    while (m_length % blockSize != blockSize - 8) {
        put(0);
    }
    for (int shift = 56; shift >= 0; shift -= 8) {
        put(static_cast<unsigned char>(bits >> shift));
    }
    return m_state;
}

} // namespace zipformat::sha1
