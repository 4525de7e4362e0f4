#include "zipformat/Crc32.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <limits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZIPFORMAT_FOLDING_CRC 1
#endif

namespace zipformat {

namespace {

std::uint32_t crc32WithTables(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    uLong value = crc;
    while (size > 0) {
        const std::size_t piece = std::min<std::size_t>(size, std::numeric_limits<uInt>::max());
        value = crc32(value, data, static_cast<uInt>(piece));
        data += piece;
        size -= piece;
    }
    return static_cast<std::uint32_t>(value);
}

#ifdef ZIPFORMAT_FOLDING_CRC

// Folding by carry-less multiplication, with the constants of the bit-
// reflected CRC-32 polynomial: x^(4*128+64) and x^(4*128) mod P to fold four
// lanes over the next 64 bytes, x^(128+64) and x^128 mod P to fold one lane
// into the next, x^64 mod P to go down to 64 bits, and P with its Barrett
// quotient to reduce to 32.
constexpr std::size_t foldedBlock = 64;
constexpr std::size_t lane = 16;
alignas(16) constexpr std::uint64_t fourLanes[2] = {0x0154442bd4, 0x01c6e41596};
alignas(16) constexpr std::uint64_t oneLane[2] = {0x01751997d0, 0x00ccaa009e};
alignas(16) constexpr std::uint64_t toSixtyFour[2] = {0x0163cd6124, 0};
alignas(16) constexpr std::uint64_t barrett[2] = {0x01db710641, 0x01f7011641};

__attribute__((target("pclmul,sse4.1"))) __m128i fold(__m128i value, __m128i constants,
                                                      __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(value, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(value, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

__attribute__((target("pclmul,sse4.1"))) __m128i load(const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// The inverted CRC over size bytes: size is a multiple of 16, at least 64.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t
foldedCrc(std::uint32_t inverted, const unsigned char* data, std::size_t size) {
    __m128i x1 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(inverted)));
    __m128i x2 = load(data + 16);
    __m128i x3 = load(data + 32);
    __m128i x4 = load(data + 48);
    data += foldedBlock;
    size -= foldedBlock;
    const __m128i four = _mm_load_si128(reinterpret_cast<const __m128i*>(fourLanes));
    for (; size >= foldedBlock; data += foldedBlock, size -= foldedBlock) {
        x1 = fold(x1, four, load(data));
        x2 = fold(x2, four, load(data + 16));
        x3 = fold(x3, four, load(data + 32));
        x4 = fold(x4, four, load(data + 48));
    }
    const __m128i one = _mm_load_si128(reinterpret_cast<const __m128i*>(oneLane));
    x1 = fold(fold(fold(x1, one, x2), one, x3), one, x4);
    for (; size >= lane; data += lane, size -= lane) {
        x1 = fold(x1, one, load(data));
    }
    // 128 bits to 64, then Barrett's reduction to 32.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, one, 0x10));
    const __m128i down = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(toSixtyFour));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), down, 0x00),
                       _mm_srli_si128(x1, 4));
    const __m128i polynomial = _mm_load_si128(reinterpret_cast<const __m128i*>(barrett));
    __m128i quotient = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), polynomial, 0x10);
    quotient = _mm_clmulepi64_si128(_mm_and_si128(quotient, low32), polynomial, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, quotient), 1));
}

bool foldingAvailable() {
    static const bool available =
        __builtin_cpu_supports("pclmul") != 0 && __builtin_cpu_supports("sse4.1") != 0;
    return available;
}

#endif

} // namespace

std::uint32_t crc32Update(std::uint32_t crc, std::span<const unsigned char> data) {
    const unsigned char* at = data.data();
    std::size_t size = data.size();
#ifdef ZIPFORMAT_FOLDING_CRC
    if (size >= foldedBlock && foldingAvailable()) {
        const std::size_t folded = size & ~(lane - 1);
        crc = ~foldedCrc(~crc, at, folded);
        at += folded;
        size -= folded;
    }
#endif
    return crc32WithTables(crc, at, size);
}

} // namespace zipformat
