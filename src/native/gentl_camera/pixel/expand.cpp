// The AVX2 version shuffles 32 grey bytes into 96 output bytes with three
// byte shuffles per 16 values; the portable version is a plain loop. The
// choice is made once, from what the CPU reports.
#include "expand.hpp"

#include "dispatch.hpp"

namespace vantix::pixel::detail {
namespace {

using u8 = std::uint8_t;

void expand_portable(const u8 *__restrict grey, std::size_t n, u8 *__restrict dst) {
    for (std::size_t i = 0; i < n; ++i) {
        const u8 v = grey[i];
        dst[3 * i] = v;
        dst[3 * i + 1] = v;
        dst[3 * i + 2] = v;
    }
}

#ifdef VANTIX_AVX2_PATH
__attribute__((target("avx2"))) void expand_avx2(const u8 *grey, std::size_t n, u8 *dst,
                                                 bool stream) {
    std::size_t i = 0;
    if (stream) {
        // Streaming stores need 32-byte alignment: reach it pixel by pixel
        // (3 and 32 are coprime, so fewer than 32 pixels do).
        while (i < n && (reinterpret_cast<std::uintptr_t>(dst + 3 * i) & 31) != 0) ++i;
        expand_portable(grey, i, dst);
    }
    const __m128i m0 = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i m1 = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i m2 = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    for (; i + 32 <= n; i += 32) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(grey + i));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(grey + i + 16));
        const __m256i o0 = _mm256_set_m128i(_mm_shuffle_epi8(lo, m1), _mm_shuffle_epi8(lo, m0));
        const __m256i o1 = _mm256_set_m128i(_mm_shuffle_epi8(hi, m0), _mm_shuffle_epi8(lo, m2));
        const __m256i o2 = _mm256_set_m128i(_mm_shuffle_epi8(hi, m2), _mm_shuffle_epi8(hi, m1));
        __m256i *d = reinterpret_cast<__m256i *>(dst + 3 * i);
        if (stream) {
            _mm256_stream_si256(d, o0);
            _mm256_stream_si256(d + 1, o1);
            _mm256_stream_si256(d + 2, o2);
        } else {
            _mm256_storeu_si256(d, o0);
            _mm256_storeu_si256(d + 1, o1);
            _mm256_storeu_si256(d + 2, o2);
        }
    }
    // Make the streamed lines visible before anyone reads the image.
    if (stream) _mm_sfence();
    expand_portable(grey + i, n - i, dst + 3 * i);
}
#endif

}  // namespace

void expand_bgr(const u8 *grey, std::size_t n, u8 *dst, bool stream) {
#ifdef VANTIX_AVX2_PATH
    if (has_avx2()) return expand_avx2(grey, n, dst, stream);
#endif
    (void)stream;
    expand_portable(grey, n, dst);
}

}  // namespace vantix::pixel::detail
