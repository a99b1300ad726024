// Byte vectors of the instruction set at hand, so that each vector kernel is
// written once: the 128-bit operations of SSE4.1, or the same operations on
// both 128-bit lanes of AVX2. Only loading into lanes, packing words and
// storing interleaved pieces differ, because they cross lanes. Included by
// kernels.simd.hpp, where VANTIX_VEC says whether there are vectors at all.
#if VANTIX_ISA_AVX2
using Vec = __m256i;
constexpr std::size_t kVec = 32;
VANTIX_INLINE Vec load(const u8 *p) { return _mm256_loadu_si256(reinterpret_cast<const Vec *>(p)); }
VANTIX_INLINE void store(u8 *p, Vec v) { _mm256_storeu_si256(reinterpret_cast<Vec *>(p), v); }
VANTIX_INLINE Vec splat16(short v) { return _mm256_set1_epi16(v); }
VANTIX_INLINE Vec add16(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
template <int n>
VANTIX_INLINE Vec shr16(Vec a) {
    return _mm256_srli_epi16(a, n);
}
VANTIX_INLINE Vec shr16(Vec a, __m128i n) { return _mm256_srl_epi16(a, n); }
VANTIX_INLINE Vec min16(Vec a, Vec b) { return _mm256_min_epu16(a, b); }
VANTIX_INLINE Vec and_(Vec a, Vec b) { return _mm256_and_si256(a, b); }
VANTIX_INLINE Vec or_(Vec a, Vec b) { return _mm256_or_si256(a, b); }
VANTIX_INLINE Vec avg8(Vec a, Vec b) { return _mm256_avg_epu8(a, b); }
// Bytes of b where the mask byte's top bit is set, else of a.
VANTIX_INLINE Vec blend8(Vec a, Vec b, Vec mask) { return _mm256_blendv_epi8(a, b, mask); }
// Within each 128-bit lane: byte i = v[idx[i]], or 0 where idx[i] < 0.
VANTIX_INLINE Vec shuffle8(Vec v, Vec idx) { return _mm256_shuffle_epi8(v, idx); }
// The same 16-byte pattern in every lane.
VANTIX_INLINE Vec lanes(const std::int8_t *pattern) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(pattern)));
}
// 16 bytes at p[k * step] into lane k.
VANTIX_INLINE Vec load_lanes(const u8 *p, std::size_t step) {
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i *>(p + step),
                               reinterpret_cast<const __m128i *>(p));
}
// The words of a, then of b, saturated to bytes, in order.
VANTIX_INLINE Vec pack_words(Vec a, Vec b) {
    // packus interleaves the lanes of a and b; put them back in order.
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}
// Piece k of each lane holds output bytes 16k..16k+15 of that lane's 48;
// stores the 3 * kVec bytes in order.
VANTIX_INLINE void store_pieces(const Vec (&piece)[3], u8 *d) {
    store(d, _mm256_permute2x128_si256(piece[0], piece[1], 0x20));
    store(d + 32, _mm256_permute2x128_si256(piece[2], piece[0], 0x30));
    store(d + 64, _mm256_permute2x128_si256(piece[1], piece[2], 0x31));
}
#elif VANTIX_ISA_SSE41
using Vec = __m128i;
constexpr std::size_t kVec = 16;
VANTIX_INLINE Vec load(const u8 *p) { return _mm_loadu_si128(reinterpret_cast<const Vec *>(p)); }
VANTIX_INLINE void store(u8 *p, Vec v) { _mm_storeu_si128(reinterpret_cast<Vec *>(p), v); }
VANTIX_INLINE Vec splat16(short v) { return _mm_set1_epi16(v); }
VANTIX_INLINE Vec add16(Vec a, Vec b) { return _mm_add_epi16(a, b); }
template <int n>
VANTIX_INLINE Vec shr16(Vec a) {
    return _mm_srli_epi16(a, n);
}
VANTIX_INLINE Vec shr16(Vec a, __m128i n) { return _mm_srl_epi16(a, n); }
VANTIX_INLINE Vec min16(Vec a, Vec b) { return _mm_min_epu16(a, b); }
VANTIX_INLINE Vec and_(Vec a, Vec b) { return _mm_and_si128(a, b); }
VANTIX_INLINE Vec or_(Vec a, Vec b) { return _mm_or_si128(a, b); }
VANTIX_INLINE Vec avg8(Vec a, Vec b) { return _mm_avg_epu8(a, b); }
VANTIX_INLINE Vec blend8(Vec a, Vec b, Vec mask) { return _mm_blendv_epi8(a, b, mask); }
VANTIX_INLINE Vec shuffle8(Vec v, Vec idx) { return _mm_shuffle_epi8(v, idx); }
VANTIX_INLINE Vec lanes(const std::int8_t *pattern) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(pattern));
}
VANTIX_INLINE Vec load_lanes(const u8 *p, std::size_t) { return load(p); }
VANTIX_INLINE Vec pack_words(Vec a, Vec b) { return _mm_packus_epi16(a, b); }
VANTIX_INLINE void store_pieces(const Vec (&piece)[3], u8 *d) {
    store(d, piece[0]);
    store(d + 16, piece[1]);
    store(d + 32, piece[2]);
}
#endif

#if VANTIX_VEC
// Byte shuffles that interleave three planes of 16 values into 48 bytes:
// kInterleave.mask[k][p] gathers from plane p (blue, green, red) the bytes of
// output piece k (bytes 16k..16k+15); -128 leaves a byte to another plane.
// kInterleave.grey[k] gathers the same bytes from one plane for all three.
struct InterleaveMasks {
    std::int8_t mask[3][3][16];
    std::int8_t grey[3][16];
};
constexpr InterleaveMasks interleave_masks() {
    InterleaveMasks t{};
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 16; ++j) {
            const int o = 16 * k + j;
            t.grey[k][j] = static_cast<std::int8_t>(o / 3);
            for (int p = 0; p < 3; ++p)
                t.mask[k][p][j] = static_cast<std::int8_t>(o % 3 == p ? o / 3 : -128);
        }
    return t;
}
inline constexpr InterleaveMasks kInterleave = interleave_masks();

// kVec pixels of the given planes as 3 * kVec interleaved bytes at d.
VANTIX_INLINE void store_planes(Vec b, Vec g, Vec r, u8 *d) {
    Vec piece[3];
    for (int k = 0; k < 3; ++k) {
        const auto &m = kInterleave.mask[k];
        piece[k] =
            or_(or_(shuffle8(b, lanes(m[0])), shuffle8(g, lanes(m[1]))), shuffle8(r, lanes(m[2])));
    }
    store_pieces(piece, d);
}

// kVec grey values, each written three times, at d.
VANTIX_INLINE void store_grey(Vec grey, u8 *d) {
    Vec piece[3];
    for (int k = 0; k < 3; ++k) piece[k] = shuffle8(grey, lanes(kInterleave.grey[k]));
    store_pieces(piece, d);
}
#endif
