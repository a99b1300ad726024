// Grey values written three times each, the last step of every conversion to
// BGR, and the rules for large outputs. Shared by the kernels; not part of
// their interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dispatch.hpp"

namespace vantix::pixel::detail {

// Outputs at least this large bypass the cache (non-temporal stores): they
// would mostly be evicted before use anyway, and skipping the
// read-for-ownership of every line saves a third of the memory traffic.
constexpr std::size_t kStreamBytes = std::size_t(4) << 20;

// dst[3i] = dst[3i + 1] = dst[3i + 2] = grey[i] for i < n. `stream` selects
// non-temporal stores where the CPU has them.
void expand_bgr(const std::uint8_t *grey, std::size_t n, std::uint8_t *dst, bool stream);

// Grey values are produced in blocks of this many into a buffer on the
// stack, which stays in L1 while it is expanded.
constexpr std::size_t kBlock = 4096;

// Pixels to write one by one before dst + 3 * i is 32-byte aligned, for
// streaming stores (3 and 32 are coprime, so fewer than 32 do).
inline std::size_t pixels_to_alignment(const std::uint8_t *dst, std::size_t n) {
    std::size_t i = 0;
    while (i < n && (reinterpret_cast<std::uintptr_t>(dst + 3 * i) & 31) != 0) ++i;
    return i;
}

#ifdef VANTIX_AVX2_PATH
// Writes 32 grey values, lo then hi, as 96 BGR bytes at d: three byte
// shuffles per 16 values. `stream` needs d 32-byte aligned.
__attribute__((target("avx2"))) inline void store_bgr32(__m128i lo, __m128i hi, std::uint8_t *d,
                                                        bool stream) {
    const __m128i m0 = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i m1 = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i m2 =
        _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    const __m256i o0 = _mm256_set_m128i(_mm_shuffle_epi8(lo, m1), _mm_shuffle_epi8(lo, m0));
    const __m256i o1 = _mm256_set_m128i(_mm_shuffle_epi8(hi, m0), _mm_shuffle_epi8(lo, m2));
    const __m256i o2 = _mm256_set_m128i(_mm_shuffle_epi8(hi, m2), _mm_shuffle_epi8(hi, m1));
    __m256i *out = reinterpret_cast<__m256i *>(d);
    if (stream) {
        _mm256_stream_si256(out, o0);
        _mm256_stream_si256(out + 1, o1);
        _mm256_stream_si256(out + 2, o2);
    } else {
        _mm256_storeu_si256(out, o0);
        _mm256_storeu_si256(out + 1, o1);
        _mm256_storeu_si256(out + 2, o2);
    }
}
#endif

}  // namespace vantix::pixel::detail
