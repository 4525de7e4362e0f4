#pragma once

// SHA-1 for the key derivation of AES entries, on the stack alone: the
// derivation hashes two thousand blocks an entry, and a hash that allocates
// per block costs more than the hashing.

#include <array>
#include <cstdint>
#include <span>

namespace zipformat::sha1 {

using State = std::array<std::uint32_t, 5>;
// One 64-byte block as sixteen big-endian words.
using Block = std::array<std::uint32_t, 16>;

inline constexpr State initialState{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
inline constexpr std::size_t blockSize = 64;

// The state after one more block: on the processor's SHA instructions
// where it has them, otherwise by the portable rounds.
State compress(const State& state, const Block& block);

// Each way of compress alone, for the test that holds them to each other:
// the portable rounds, and those on the processor's instructions (null on
// a processor without them).
using CompressFunction = State (*)(const State&, const Block&);
State compressPortably(const State& state, const Block& block);
CompressFunction compressOnInstructions();
// Compresses count blocks (at most maxSideBySide) from the same state into
// next: side by side on the processor's instructions, whose rounds then
// overlap, otherwise one after the other by the portable rounds.
inline constexpr std::size_t maxSideBySide = 4;
using CompressSideBySideFunction = void (*)(const State& state, const Block* blocks, State* next,
                                            std::size_t count);
CompressSideBySideFunction chosenCompressSideBySide();
// The side-by-side way on the processor's instructions (null without them).
CompressSideBySideFunction compressSideBySideOnInstructions();

// Hashes a message whose first `hashedBefore` bytes (whole blocks) are
// already in the state it starts from.
class Hasher {
public:
    explicit Hasher(const State& start = initialState, std::uint64_t hashedBefore = 0)
        : m_state(start), m_length(hashedBefore) {}
    void update(std::span<const unsigned char> bytes);
    State finish();

private:
    void put(unsigned char byte);

    State m_state;
    std::uint64_t m_length;
    Block m_block{};
};

} // namespace zipformat::sha1
