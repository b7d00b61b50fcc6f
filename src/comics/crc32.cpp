#include "comics/crc32.hpp"

#include <zlib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace comics {
namespace {

std::uint32_t zlibCrc(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    return static_cast<std::uint32_t>(crc32_z(crc, data, size));
}

#if defined(__x86_64__)

__m128i load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// One lane times the constants, plus the next 16 bytes.
__attribute__((target("pclmul,sse4.1"))) __m128i fold(__m128i lane, __m128i k, __m128i next) {
    __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
    __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// Folds 64 bytes at a time, four 128-bit lanes multiplied forward by x^(512+-64)
// mod P, then the lanes into one, the 128 bits to 64 and a Barrett reduction to
// 32. size is at least 64 and a multiple of 16; crc and the result are the
// inverted register, as inside zlib.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t foldCrc(const unsigned char* at,
                                                               std::size_t size,
                                                               std::uint32_t crc) {
    alignas(16) static const std::uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const std::uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
    alignas(16) static const std::uint64_t poly[] = {0x01db710641, 0x01f7011641};
    __m128i x1 = _mm_xor_si128(load(at), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = load(at + 16), x3 = load(at + 32), x4 = load(at + 48);
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
    at += 64;
    size -= 64;
    for (; size >= 64; at += 64, size -= 64) {
        x1 = fold(x1, k, load(at));
        x2 = fold(x2, k, load(at + 16));
        x3 = fold(x3, k, load(at + 32));
        x4 = fold(x4, k, load(at + 48));
    }
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    x1 = fold(x1, k, x2);
    x1 = fold(x1, k, x3);
    x1 = fold(x1, k, x4);
    for (; size >= 16; at += 16, size -= 16) x1 = fold(x1, k, load(at));
    // 128 bits to 64.
    const __m128i mask = _mm_setr_epi32(~0, 0, ~0, 0);
    x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask), k, 0x00), x2);
    // Barrett reduction to 32 bits.
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
    x2 = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask), k, 0x10), mask);
    x2 = _mm_clmulepi64_si128(x2, k, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, x2), 1));
}

bool canFold() {
    static const bool can = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return can;
}

#endif

}  // namespace

std::uint32_t crc32(std::string_view data) {
    const auto* at = reinterpret_cast<const unsigned char*>(data.data());
    std::size_t size = data.size();
    std::uint32_t crc = 0;
#if defined(__x86_64__)
    if (size >= 64 && canFold()) {
        const std::size_t folded = size & ~std::size_t{15};
        crc = ~foldCrc(at, folded, ~crc);
        at += folded;
        size -= folded;
    }
#endif
    return zlibCrc(crc, at, size);
}

}  // namespace comics
