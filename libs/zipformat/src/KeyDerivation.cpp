#include "zipformat/KeyDerivation.h"

#include "Sha1.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace zipformat {

namespace {

using sha1::Block;
using sha1::State;

constexpr std::size_t digestSize = 20;

// The hash states after the key's block XORed with the inner and the outer
// pad, which every HMAC of the derivation starts from.
struct HmacStates {
    State inner;
    State outer;
};

HmacStates hmacStates(std::string_view password) {
    Block key{};
    if (password.size() > sha1::blockSize) {
        // A key longer than a block is its digest.
        sha1::Hasher hasher;
        hasher.update({reinterpret_cast<const unsigned char*>(password.data()), password.size()});
        const State digest = hasher.finish();
        std::copy(digest.begin(), digest.end(), key.begin());
    } else {
        for (std::size_t i = 0; i < password.size(); ++i) {
            key[i / 4] |= static_cast<std::uint32_t>(static_cast<unsigned char>(password[i]))
                          << (24 - 8 * (i % 4));
        }
    }
    Block inner{};
    Block outer{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        inner[i] = key[i] ^ 0x36363636;
        outer[i] = key[i] ^ 0x5C5C5C5C;
    }
    return {sha1::compress(sha1::initialState, inner), sha1::compress(sha1::initialState, outer)};
}

// The last block of a message of one pad block and a 20-byte digest: room
// for the digest, the end mark and the length in bits.
Block digestBlock() {
    Block block{};
    block[digestSize / 4] = 0x80000000;
    block.back() = (sha1::blockSize + digestSize) * 8;
    return block;
}

// The words of a state or a block, for the loop below: a function the
// sanitizers check is inlined into one they leave alone only when forced.
template <std::size_t N>
[[gnu::always_inline]] inline std::uint32_t* wordsOf(std::array<std::uint32_t, N>& words) {
    return words.data();
}
template <std::size_t N>
[[gnu::always_inline]] inline const std::uint32_t*
wordsOf(const std::array<std::uint32_t, N>& words) {
    return words.data();
}

// The key blocks derived side by side: their rounds do not depend on each
// other, so the processor overlaps one block's hashing with the next's.
// Four is what an AES-256 entry's keys and check take.
constexpr std::size_t lanes = sha1::maxSideBySide;

// The rounds of F after the first for count key blocks, each an HMAC of the
// digest its block holds (the round before), XORed into its sum. Like the
// compression, exempt from the sanitizers' checks: it touches only its
// arguments and locals, and in the checked builds the checks on its arrays
// took half as long as the hashing itself (the fuzz targets derive many
// keys).
__attribute__((no_sanitize("address", "undefined"))) void
addLaterRounds(const HmacStates& states, unsigned rounds, std::size_t count, Block* blocks,
               State* sums) {
    constexpr std::size_t stateWords = digestSize / 4;
    const sha1::CompressSideBySideFunction compress = sha1::chosenCompressSideBySide();
    State digests[lanes];
    for (unsigned i = 1; i < rounds; ++i) {
        compress(states.inner, blocks, digests, count);
        for (std::size_t lane = 0; lane < count; ++lane) {
            std::uint32_t* const digest = wordsOf(blocks[lane]);
            for (std::size_t word = 0; word < stateWords; ++word) {
                digest[word] = wordsOf(digests[lane])[word];
            }
        }
        compress(states.outer, blocks, digests, count);
        for (std::size_t lane = 0; lane < count; ++lane) {
            std::uint32_t* const digest = wordsOf(blocks[lane]);
            std::uint32_t* const total = wordsOf(sums[lane]);
            for (std::size_t word = 0; word < stateWords; ++word) {
                digest[word] = wordsOf(digests[lane])[word];
                total[word] ^= digest[word];
            }
        }
    }
}

// The first round of F(password, salt, rounds, index) of the standard, the
// HMAC over the salt and the block's index: into block for the next round,
// and the sum so far.
void firstRound(const HmacStates& states, std::span<const unsigned char> salt, std::uint32_t index,
                Block& block, State& sum) {
    sha1::Hasher first(states.inner, sha1::blockSize);
    first.update(salt);
    const std::array<unsigned char, 4> indexBytes{
        static_cast<unsigned char>(index >> 24), static_cast<unsigned char>(index >> 16),
        static_cast<unsigned char>(index >> 8), static_cast<unsigned char>(index)};
    first.update(indexBytes);
    const State innerDigest = first.finish();
    block = digestBlock();
    std::copy(innerDigest.begin(), innerDigest.end(), block.begin());
    sum = sha1::compress(states.outer, block);
    std::copy(sum.begin(), sum.end(), block.begin());
}

} // namespace

void pbkdf2HmacSha1(std::string_view password, std::span<const unsigned char> salt, unsigned rounds,
                    std::span<unsigned char> key) {
    const HmacStates states = hmacStates(password);
    const std::size_t blockCount = (key.size() + digestSize - 1) / digestSize;
    for (std::size_t first = 0; first < blockCount; first += lanes) {
        const std::size_t count = std::min(lanes, blockCount - first);
        std::array<Block, lanes> blocks{};
        std::array<State, lanes> sums{};
        for (std::size_t lane = 0; lane < count; ++lane) {
            firstRound(states, salt, static_cast<std::uint32_t>(first + lane + 1), blocks[lane],
                       sums[lane]);
        }
        addLaterRounds(states, rounds, count, blocks.data(), sums.data());
        // F's blocks one after the other, the last cut to the key's length.
        for (std::size_t lane = 0; lane < count; ++lane) {
            const std::size_t at = (first + lane) * digestSize;
            for (std::size_t i = 0; i < digestSize && at + i < key.size(); ++i) {
                key[at + i] = static_cast<unsigned char>(sums[lane][i / 4] >> (24 - 8 * (i % 4)));
            }
        }
    }
}

} // namespace zipformat
