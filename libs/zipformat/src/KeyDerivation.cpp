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

// The last block of a message of one pad block and a 20-byte digest: the
// digest, the end mark and the length in bits.
State hashDigest(const State& padState, const State& digest) {
    Block block{};
    std::copy(digest.begin(), digest.end(), block.begin());
    block[digest.size()] = 0x80000000;
    block.back() = (sha1::blockSize + digestSize) * 8;
    return sha1::compress(padState, block);
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
    State round = hashDigest(states.outer, first.finish());
    State sum = round;
    for (unsigned i = 1; i < rounds; ++i) {
        round = hashDigest(states.outer, hashDigest(states.inner, round));
        for (std::size_t word = 0; word < sum.size(); ++word) {
            sum[word] ^= round[word];
        }
    }
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
