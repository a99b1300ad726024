// Depth reduction of 16-bit samples to 8 bits by a right shift, saturating
// at 255. Included by kernels.simd.hpp.

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

#if VANTIX_VEC
// Compilers widen a variable shift of 16-bit values to 32 bits; this stays in
// words: shift, clamp to 255, pack kVec samples (2 * kVec bytes) into bytes.
VANTIX_INLINE Vec reduce_vec(const u8 *src, __m128i by) {
    const Vec max = splat16(255);
    return pack_words(min16(shr16(load(src), by), max), min16(shr16(load(src + kVec), by), max));
}
#endif

void shift8(const u8 *src, int shift, u8 *dst, std::size_t count) {
    std::size_t i = 0;
#if VANTIX_VEC
    const __m128i by = _mm_cvtsi32_si128(shift);
    for (; i + kVec <= count; i += kVec) store(dst + i, reduce_vec(src + 2 * i, by));
#endif
    shift_portable(src + 2 * i, count - i, shift, dst + i);
}

// Shift and expansion in one pass: the grey values never leave registers.
void shift_bgr(const u8 *src, int shift, u8 *dst, std::size_t count) {
    std::size_t i = 0;
#if VANTIX_VEC
    const __m128i by = _mm_cvtsi32_si128(shift);
    for (; i + kVec <= count; i += kVec) store_grey(reduce_vec(src + 2 * i, by), dst + 3 * i);
#endif
    for (; i < count; ++i) std::memset(dst + 3 * i, reduce(src, i, shift), 3);
}
