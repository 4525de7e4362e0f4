#include "Sha1.h"

// The compression on the SHA extensions of x86-64 processors: four rounds
// an instruction, twice the speed of the portable rounds (a key derivation
// is two thousand compressions a key block). Elsewhere there is none.

#if defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>
#include <utility>

namespace zipformat::sha1 {

namespace {

bool hasShaInstructions() {
    unsigned a = 0;
    unsigned b = 0;
    unsigned c = 0;
    unsigned d = 0;
    if (__get_cpuid_max(0, nullptr) < 7 || !__get_cpuid(1, &a, &b, &c, &d) ||
        (c & bit_SSE4_1) == 0) {
        return false;
    }
    __cpuid_count(7, 0, a, b, c, d);
    return (b & bit_SHA) != 0;
}

// Rounds 4J to 4J+3, J from 1: the message's words 4J to 4J+3 (from the
// sixteen before them once the block's own are used up), then four rounds
// from the state before the last four. Written inline, with no call the
// sanitizers could check, like the portable rounds.
template <int J>
__attribute__((always_inline, target("sha,sse4.1"))) inline void
roundGroup(__m128i (&message)[4], __m128i& abcd, __m128i& before) {
    if constexpr (J >= 4) {
        message[J % 4] = _mm_sha1msg2_epu32(
            _mm_xor_si128(_mm_sha1msg1_epu32(message[J % 4], message[(J + 1) % 4]),
                          message[(J + 2) % 4]),
            message[(J + 3) % 4]);
    }
    const __m128i e = _mm_sha1nexte_epu32(before, message[J % 4]);
    before = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, J / 5);
}

template <std::size_t... J>
__attribute__((always_inline, target("sha,sse4.1"))) inline void
roundGroups(__m128i (&message)[4], __m128i& abcd, __m128i& before, std::index_sequence<J...>) {
    (roundGroup<static_cast<int>(J) + 1>(message, abcd, before), ...);
}

// Each lane's rounds J+1 in turn, the lanes side by side: they do not
// depend on each other, so the processor overlaps them. Folded out rather
// than looped, like the rounds: a loop would be traced at every turn in
// the fuzz builds.
template <int J, std::size_t... Lane>
__attribute__((always_inline, target("sha,sse4.1"))) inline void
laneGroup(__m128i (&message)[sizeof...(Lane)][4], __m128i (&abcd)[sizeof...(Lane)],
          __m128i (&before)[sizeof...(Lane)], std::index_sequence<Lane...>) {
    (roundGroup<J>(message[Lane], abcd[Lane], before[Lane]), ...);
}

template <std::size_t Lanes, std::size_t... J>
__attribute__((always_inline, target("sha,sse4.1"))) inline void
laneGroups(__m128i (&message)[Lanes][4], __m128i (&abcd)[Lanes], __m128i (&before)[Lanes],
           std::index_sequence<J...>) {
    (laneGroup<static_cast<int>(J) + 1>(message, abcd, before, std::make_index_sequence<Lanes>{}),
     ...);
}

// Lanes blocks from the same state. The words are in the order the
// instructions take them: a in the highest lane, e alone in the highest
// lane of its own register.
template <std::size_t Lanes>
__attribute__((target("sha,sse4.1"), no_sanitize("address", "undefined"))) void
compressLanes(const State& state, const Block* blocks, State* next) {
    const auto* const start = reinterpret_cast<const __m128i*>(state.data());
    const __m128i startAbcd = _mm_shuffle_epi32(_mm_loadu_si128(start), 0x1B);
    const __m128i startE = _mm_set_epi32(static_cast<int>(state.data()[4]), 0, 0, 0);
    __m128i message[Lanes][4];
    __m128i abcd[Lanes];
    __m128i before[Lanes];
    for (std::size_t lane = 0; lane < Lanes; ++lane) {
        const auto* const words = reinterpret_cast<const __m128i*>(blocks[lane].data());
        for (int i = 0; i < 4; ++i) {
            message[lane][i] = _mm_shuffle_epi32(_mm_loadu_si128(words + i), 0x1B);
        }
        before[lane] = startAbcd;
        abcd[lane] = _mm_sha1rnds4_epu32(startAbcd, _mm_add_epi32(startE, message[lane][0]), 0);
    }
    laneGroups<Lanes>(message, abcd, before, std::make_index_sequence<19>{});
    for (std::size_t lane = 0; lane < Lanes; ++lane) {
        const __m128i e = _mm_sha1nexte_epu32(before[lane], startE);
        std::uint32_t* const out = next[lane].data();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_shuffle_epi32(_mm_add_epi32(abcd[lane], startAbcd), 0x1B));
        out[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
    }
}

State compressWithInstructions(const State& state, const Block& block) {
    State next;
    compressLanes<1>(state, &block, &next);
    return next;
}

void compressSideBySideWithInstructions(const State& state, const Block* blocks, State* next,
                                        std::size_t count) {
    switch (count) {
    case 4:
        return compressLanes<4>(state, blocks, next);
    case 3:
        return compressLanes<3>(state, blocks, next);
    case 2:
        return compressLanes<2>(state, blocks, next);
    default:
        for (std::size_t i = 0; i < count; ++i) {
            compressLanes<1>(state, blocks + i, next + i);
        }
    }
}

} // namespace

CompressFunction compressOnInstructions() {
    return hasShaInstructions() ? &compressWithInstructions : nullptr;
}

CompressSideBySideFunction compressSideBySideOnInstructions() {
    return hasShaInstructions() ? &compressSideBySideWithInstructions : nullptr;
}

} // namespace zipformat::sha1

#else

namespace zipformat::sha1 {

CompressFunction compressOnInstructions() {
    return nullptr;
}

CompressSideBySideFunction compressSideBySideOnInstructions() {
    return nullptr;
}

} // namespace zipformat::sha1

#endif
