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

// The words are in the order the instructions take them: a in the highest
// lane, e alone in the highest lane of its own register.
__attribute__((target("sha,sse4.1"), no_sanitize("address", "undefined"))) State
compressWithInstructions(const State& state, const Block& block) {
    const auto* const words = reinterpret_cast<const __m128i*>(block.data());
    const auto* const start = reinterpret_cast<const __m128i*>(state.data());
    const __m128i startAbcd = _mm_shuffle_epi32(_mm_loadu_si128(start), 0x1B);
    const __m128i startE = _mm_set_epi32(static_cast<int>(state.data()[4]), 0, 0, 0);
    __m128i message[4];
    for (int i = 0; i < 4; ++i) {
        message[i] = _mm_shuffle_epi32(_mm_loadu_si128(words + i), 0x1B);
    }
    __m128i before = startAbcd;
    __m128i abcd = _mm_sha1rnds4_epu32(startAbcd, _mm_add_epi32(startE, message[0]), 0);
    roundGroups(message, abcd, before, std::make_index_sequence<19>{});
    const __m128i e = _mm_sha1nexte_epu32(before, startE);
    State next;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(next.data()),
                     _mm_shuffle_epi32(_mm_add_epi32(abcd, startAbcd), 0x1B));
    next.data()[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
    return next;
}

} // namespace

CompressFunction compressOnInstructions() {
    return hasShaInstructions() ? &compressWithInstructions : nullptr;
}

} // namespace zipformat::sha1

#else

namespace zipformat::sha1 {

CompressFunction compressOnInstructions() {
    return nullptr;
}

} // namespace zipformat::sha1

#endif
