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

// The rounds of F after the first, each an HMAC of the digest block holds
// (the round before), XORed into sum. Like the compression, exempt from
// the sanitizers' checks: it touches only its arguments and locals, and in
// the checked builds the checks on its arrays took half as long as the
// hashing itself (the fuzz targets derive many keys).
__attribute__((no_sanitize("address", "undefined"))) void
addLaterRounds(const HmacStates& states, unsigned rounds, Block& block, State& sum) {
    constexpr std::size_t stateWords = digestSize / 4;
    std::uint32_t* const digest = wordsOf(block);
    std::uint32_t* const total = wordsOf(sum);
    for (unsigned i = 1; i < rounds; ++i) {
        const State inner = sha1::compress(states.inner, block);
        for (std::size_t word = 0; word < stateWords; ++word) {
            digest[word] = wordsOf(inner)[word];
        }
        const State round = sha1::compress(states.outer, block);
        for (std::size_t word = 0; word < stateWords; ++word) {
            digest[word] = wordsOf(round)[word];
            total[word] ^= digest[word];
        }
    }
}

// F(password, salt, rounds, index) of the standard: the XOR of the rounds'
// HMACs, the first over the salt and the block's index.
State derivedBlock(const HmacStates& states, std::span<const unsigned char> salt, unsigned rounds,
                   std::uint32_t index) {
    sha1::Hasher first(states.inner, sha1::blockSize);
    first.update(salt);
    const std::array<unsigned char, 4> indexBytes{
        static_cast<unsigned char>(index >> 24), static_cast<unsigned char>(index >> 16),
        static_cast<unsigned char>(index >> 8), static_cast<unsigned char>(index)};
    first.update(indexBytes);
    const State innerDigest = first.finish();
    Block block = digestBlock();
    std::copy(innerDigest.begin(), innerDigest.end(), block.begin());
    State sum = sha1::compress(states.outer, block);
    std::copy(sum.begin(), sum.end(), block.begin());
    addLaterRounds(states, rounds, block, sum);
    return sum;
}

} // namespace

void pbkdf2HmacSha1(std::string_view password, std::span<const unsigned char> salt, unsigned rounds,
                    std::span<unsigned char> key) {
    const HmacStates states = hmacStates(password);
    std::uint32_t index = 1;
    for (std::size_t at = 0; at < key.size(); at += digestSize, ++index) {
        const State block = derivedBlock(states, salt, rounds, index);
        for (std::size_t i = 0; i < digestSize && at + i < key.size(); ++i) {
            key[at + i] = static_cast<unsigned char>(block[i / 4] >> (24 - 8 * (i % 4)));
        }
    }
}

} // namespace zipformat
