// Depth reduction of 16-bit samples to 8 bits by a right shift, saturating
// at 255. Part of kernels.simd.hpp.

VANTIX_INLINE u8 reduce(const u8 *src, std::size_t i, int shift) {
    u16 v;
    std::memcpy(&v, src + 2 * i, sizeof v);
    const unsigned r = static_cast<unsigned>(v) >> shift;
    return static_cast<u8>(r < 255 ? r : 255);
}

inline void shift_portable(const u8 *__restrict src, std::size_t count, int shift,
                           u8 *__restrict dst) {
    for (std::size_t i = 0; i < count; ++i) dst[i] = reduce(src, i, shift);
}

inline void shift_bgr_portable(const u8 *__restrict src, std::size_t count, int shift,
                               u8 *__restrict dst) {
    for (std::size_t i = 0; i < count; ++i) {
        const u8 grey = reduce(src, i, shift);
        dst[3 * i] = grey;
        dst[3 * i + 1] = grey;
        dst[3 * i + 2] = grey;
    }
}

#if VANTIX_ISA_AVX2
// Compilers widen a variable shift of 16-bit values to 32 bits; this stays in
// words: shift, clamp to 255, pack 32 samples into 32 bytes.
inline __m256i shift32(const u8 *src, __m128i by) {
    const __m256i max = _mm256_set1_epi16(255);
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 32));
    a = _mm256_min_epu16(_mm256_srl_epi16(a, by), max);
    b = _mm256_min_epu16(_mm256_srl_epi16(b, by), max);
    // packus interleaves the 128-bit lanes of a and b; put them back in order.
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}
#endif

void shift8(const u8 *src, int shift, u8 *dst, std::size_t count) {
    std::size_t i = 0;
#if VANTIX_ISA_AVX2
    const __m128i by = _mm_cvtsi32_si128(shift);
    for (; i + 32 <= count; i += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), shift32(src + 2 * i, by));
#endif
    shift_portable(src + 2 * i, count - i, shift, dst + i);
}

// Shift and expansion in one pass: the grey values never leave registers.
void shift_bgr(const u8 *src, int shift, u8 *dst, std::size_t count) {
    std::size_t i = 0;
#if VANTIX_ISA_AVX2
    const __m128i by = _mm_cvtsi32_si128(shift);
    for (; i + 32 <= count; i += 32) {
        const __m256i grey = shift32(src + 2 * i, by);
        store_bgr32(_mm256_castsi256_si128(grey), _mm256_extracti128_si256(grey, 1), dst + 3 * i);
    }
#endif
    shift_bgr_portable(src + 2 * i, count - i, shift, dst + 3 * i);
}
