// Interleaved BGR stores, the last step of every conversion. Part of
// kernels.simd.hpp.

using u8 = std::uint8_t;
using u16 = std::uint16_t;

// Grey values are produced in blocks of this many into a buffer on the
// stack, which stays in L1 while it is expanded.
constexpr std::size_t kBlock = 4096;

inline void expand_portable(const u8 *__restrict grey, std::size_t n, u8 *__restrict dst) {
    for (std::size_t i = 0; i < n; ++i) {
        const u8 v = grey[i];
        dst[3 * i] = v;
        dst[3 * i + 1] = v;
        dst[3 * i + 2] = v;
    }
}

#if VANTIX_ISA_AVX2
// Plain stores: the output is read soon, and a frame fits in a large last
// level cache, which non-temporal stores would bypass.
inline void store3(__m256i o0, __m256i o1, __m256i o2, u8 *d) {
    __m256i *out = reinterpret_cast<__m256i *>(d);
    _mm256_storeu_si256(out, o0);
    _mm256_storeu_si256(out + 1, o1);
    _mm256_storeu_si256(out + 2, o2);
}

// Writes 32 grey values, lo then hi, as 96 BGR bytes at d: three byte
// shuffles per 16 values.
inline void store_bgr32(__m128i lo, __m128i hi, u8 *d) {
    const __m128i m0 = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i m1 = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i m2 =
        _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    store3(_mm256_set_m128i(_mm_shuffle_epi8(lo, m1), _mm_shuffle_epi8(lo, m0)),
           _mm256_set_m128i(_mm_shuffle_epi8(hi, m0), _mm_shuffle_epi8(lo, m2)),
           _mm256_set_m128i(_mm_shuffle_epi8(hi, m2), _mm_shuffle_epi8(hi, m1)), d);
}

// Byte shuffles that interleave three planes of 16 values into 48 bytes:
// kInterleave.mask[k][p] gathers from plane p (blue, green, red) the bytes of
// output piece k (bytes 16k..16k+15); -128 leaves a byte to another plane.
struct InterleaveMasks {
    alignas(32) std::int8_t mask[3][3][32];
};
constexpr InterleaveMasks interleave_masks() {
    InterleaveMasks t{};
    for (int k = 0; k < 3; ++k)
        for (int p = 0; p < 3; ++p)
            for (int j = 0; j < 32; ++j) {
                const int o = 16 * k + j % 16;
                t.mask[k][p][j] = static_cast<std::int8_t>(o % 3 == p ? o / 3 : -128);
            }
    return t;
}
inline constexpr InterleaveMasks kInterleave = interleave_masks();

// Writes the blue, green and red values of 32 pixels as 96 interleaved bytes
// at d. Each 128-bit lane interleaves its 16 pixels into three pieces, which
// are then put in order across the lanes.
inline __m256i gather(__m256i plane, const std::int8_t *mask) {
    return _mm256_shuffle_epi8(plane, _mm256_load_si256(reinterpret_cast<const __m256i *>(mask)));
}

inline void store_planes32(__m256i b, __m256i g, __m256i r, u8 *d) {
    __m256i piece[3];
    for (int k = 0; k < 3; ++k) {
        const auto &m = kInterleave.mask[k];
        piece[k] = _mm256_or_si256(_mm256_or_si256(gather(b, m[0]), gather(g, m[1])), gather(r, m[2]));
    }
    // piece[k] holds piece k of pixels 0..15 in its low lane, of 16..31 in its high one.
    store3(_mm256_permute2x128_si256(piece[0], piece[1], 0x20),
           _mm256_permute2x128_si256(piece[2], piece[0], 0x30),
           _mm256_permute2x128_si256(piece[1], piece[2], 0x31), d);
}
#endif

// dst[3i] = dst[3i + 1] = dst[3i + 2] = grey[i] for i < n.
inline void expand_bgr(const u8 *grey, std::size_t n, u8 *dst) {
    std::size_t i = 0;
#if VANTIX_ISA_AVX2
    for (; i + 32 <= n; i += 32)
        store_bgr32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(grey + i)),
                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(grey + i + 16)), dst + 3 * i);
#endif
    expand_portable(grey + i, n - i, dst + 3 * i);
}
