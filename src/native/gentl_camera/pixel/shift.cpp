// Depth reduction of 16-bit samples to 8 bits by a right shift. A sample
// with bits set above its nominal depth saturates at 255 instead of wrapping,
// so that a bright pixel stays bright.
#include <cstring>
#include <limits>

#include "dispatch.hpp"
#include "expand.hpp"
#include "kernels.hpp"

namespace vantix::pixel {
namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;

VANTIX_INLINE u8 reduce(const u8 *src, std::size_t i, int shift) {
    u16 v;
    std::memcpy(&v, src + 2 * i, sizeof v);
    const unsigned r = static_cast<unsigned>(v) >> shift;
    return static_cast<u8>(r < 255 ? r : 255);
}

void shift_portable(const u8 *__restrict src, std::size_t count, int shift, u8 *__restrict dst) {
    for (std::size_t i = 0; i < count; ++i) dst[i] = reduce(src, i, shift);
}

void shift_bgr_portable(const u8 *__restrict src, std::size_t count, int shift,
                        u8 *__restrict dst) {
    for (std::size_t i = 0; i < count; ++i) {
        const u8 grey = reduce(src, i, shift);
        dst[3 * i] = grey;
        dst[3 * i + 1] = grey;
        dst[3 * i + 2] = grey;
    }
}

#ifdef VANTIX_AVX2_PATH
// Compilers widen a variable shift of 16-bit values to 32 bits; this stays in
// words: shift, clamp to 255, pack 32 samples into 32 bytes.
__attribute__((target("avx2"))) inline __m256i shift32(const u8 *src, __m128i by) {
    const __m256i max = _mm256_set1_epi16(255);
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 32));
    a = _mm256_min_epu16(_mm256_srl_epi16(a, by), max);
    b = _mm256_min_epu16(_mm256_srl_epi16(b, by), max);
    // packus interleaves the 128-bit lanes of a and b; put them back in order.
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}

__attribute__((target("avx2"))) void shift_avx2(const u8 *src, std::size_t count, int shift,
                                                u8 *dst, bool stream) {
    const __m128i by = _mm_cvtsi32_si128(shift);
    std::size_t i = 0;
    if (stream) {
        while (i < count && (reinterpret_cast<std::uintptr_t>(dst + i) & 31) != 0) ++i;
        shift_portable(src, i, shift, dst);
    }
    for (; i + 32 <= count; i += 32) {
        const __m256i grey = shift32(src + 2 * i, by);
        __m256i *d = reinterpret_cast<__m256i *>(dst + i);
        if (stream)
            _mm256_stream_si256(d, grey);
        else
            _mm256_storeu_si256(d, grey);
    }
    if (stream) _mm_sfence();
    shift_portable(src + 2 * i, count - i, shift, dst + i);
}

// Shift and expansion in one pass: the grey values never leave registers.
__attribute__((target("avx2"))) void shift_bgr_avx2(const u8 *src, std::size_t count, int shift,
                                                    u8 *dst, bool stream) {
    const __m128i by = _mm_cvtsi32_si128(shift);
    std::size_t i = stream ? detail::pixels_to_alignment(dst, count) : 0;
    shift_bgr_portable(src, i, shift, dst);
    for (; i + 32 <= count; i += 32) {
        const __m256i grey = shift32(src + 2 * i, by);
        detail::store_bgr32(_mm256_castsi256_si128(grey), _mm256_extracti128_si256(grey, 1),
                            dst + 3 * i, stream);
    }
    if (stream) _mm_sfence();
    shift_bgr_portable(src + 2 * i, count - i, shift, dst + 3 * i);
}
#endif

void shift_loop(const u8 *src, std::size_t count, int shift, u8 *dst) {
#ifdef VANTIX_AVX2_PATH
    if (detail::has_avx2())
        return shift_avx2(src, count, shift, dst, count >= detail::kStreamBytes);
#endif
    shift_portable(src, count, shift, dst);
}

Status check(std::size_t src_len, int shift, std::size_t count) {
    if (shift < 0 || shift > 15) return Status::unsupported;
    if (count > std::numeric_limits<std::size_t>::max() / 2 || src_len < 2 * count)
        return Status::too_small;
    return Status::ok;
}

}  // namespace

Status shift8(const u8 *src, std::size_t src_len, int shift, u8 *dst, std::size_t count) {
    const Status s = check(src_len, shift, count);
    if (s == Status::ok && count) shift_loop(src, count, shift, dst);
    return s;
}

Status shift_bgr(const u8 *src, std::size_t src_len, int shift, u8 *dst, std::size_t count) {
    const Status s = check(src_len, shift, count);
    if (s != Status::ok) return s;
    const bool stream = count >= detail::kStreamBytes / 3;
#ifdef VANTIX_AVX2_PATH
    if (detail::has_avx2()) {
        shift_bgr_avx2(src, count, shift, dst, stream);
        return Status::ok;
    }
#endif
    (void)stream;
    shift_bgr_portable(src, count, shift, dst);
    return Status::ok;
}

}  // namespace vantix::pixel
