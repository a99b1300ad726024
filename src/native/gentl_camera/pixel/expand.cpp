// The AVX2 version shuffles 32 grey bytes at a time into 96 output bytes;
// the portable version is a plain loop. The choice is made once, from what
// the CPU reports.
#include "expand.hpp"

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
    std::size_t i = stream ? pixels_to_alignment(dst, n) : 0;
    expand_portable(grey, i, dst);
    for (; i + 32 <= n; i += 32) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(grey + i));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(grey + i + 16));
        store_bgr32(lo, hi, dst + 3 * i, stream);
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
