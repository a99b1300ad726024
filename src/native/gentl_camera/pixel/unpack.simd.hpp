// Packed samples (layouts.hpp) to 16-bit samples, to their top 8 bits and to
// grey BGR. Part of kernels.simd.hpp.

// Whole groups only; the caller has checked the input length.
template <class L>
void groups16(const u8 *__restrict src, std::size_t groups, u16 *__restrict dst) {
    for (std::size_t i = 0; i < groups; ++i) L::decode16(src + i * L::bytes, dst + i * L::samples);
}

template <class L>
void groups8(const u8 *__restrict src, std::size_t groups, u8 *__restrict dst) {
    for (std::size_t i = 0; i < groups; ++i) L::decode8(src + i * L::bytes, dst + i * L::samples);
}

template <class L>
void group16(const u8 *g, u16 *s) {
    L::decode16(g, s);
}
template <class L>
void group8(const u8 *g, u8 *s) {
    L::decode8(g, s);
}

// A layout's shape and its loops for one output type: `bulk` decodes whole
// groups, `group` one group into scratch.
template <typename Out>
struct Plan {
    std::size_t bytes = 0, samples = 0;
    void (*bulk)(const u8 *, std::size_t, Out *) = nullptr;
    void (*group)(const u8 *, Out *) = nullptr;
};

#if VANTIX_ISA_AVX2
// The top 8 bits of 32 12p samples (48 bytes at p), in order. Sample 2j is
// the word of bytes 3j and 3j + 1 shifted right by 4, sample 2j + 1 is byte
// 3j + 2. Each 128-bit lane gathers its 8 groups (24 bytes) from two
// overlapping 16-byte loads.
inline __m256i lsb12_top32(const u8 *p) {
    const __m256i first = _mm256_loadu2_m128i(reinterpret_cast<const __m128i *>(p + 24),
                                              reinterpret_cast<const __m128i *>(p));
    const __m256i second = _mm256_loadu2_m128i(reinterpret_cast<const __m128i *>(p + 32),
                                               reinterpret_cast<const __m128i *>(p + 8));
    // Groups 0..4 of a lane come from `first`, 5..7 from `second` (8 bytes on).
    const __m256i low_first = _mm256_setr_epi8(
        0, 1, 3, 4, 6, 7, 9, 10, 12, 13, -1, -1, -1, -1, -1, -1,
        0, 1, 3, 4, 6, 7, 9, 10, 12, 13, -1, -1, -1, -1, -1, -1);
    const __m256i low_second = _mm256_setr_epi8(
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 7, 8, 10, 11, 13, 14,
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 7, 8, 10, 11, 13, 14);
    const __m256i high_first = _mm256_setr_epi8(
        -1, 2, -1, 5, -1, 8, -1, 11, -1, 14, -1, -1, -1, -1, -1, -1,
        -1, 2, -1, 5, -1, 8, -1, 11, -1, 14, -1, -1, -1, -1, -1, -1);
    const __m256i high_second = _mm256_setr_epi8(
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 9, -1, 12, -1, 15,
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 9, -1, 12, -1, 15);
    const __m256i words = _mm256_or_si256(_mm256_shuffle_epi8(first, low_first),
                                          _mm256_shuffle_epi8(second, low_second));
    const __m256i odd = _mm256_or_si256(_mm256_shuffle_epi8(first, high_first),
                                        _mm256_shuffle_epi8(second, high_second));
    const __m256i even = _mm256_and_si256(_mm256_srli_epi16(words, 4), _mm256_set1_epi16(0x00FF));
    return _mm256_or_si256(even, odd);
}

// groups8<Lsb12> sixteen groups at a time.
inline void lsb12_groups8(const u8 *__restrict src, std::size_t groups, u8 *__restrict dst) {
    std::size_t i = 0;
    for (; i + 16 <= groups; i += 16)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + 2 * i), lsb12_top32(src + 3 * i));
    groups8<layout::Lsb12>(src + 3 * i, groups - i, dst + 2 * i);
}
#endif

template <class L>
Plan<u16> plan16_of() {
    return {L::bytes, L::samples, groups16<L>, group16<L>};
}
template <class L>
Plan<u8> plan8_of() {
    return {L::bytes, L::samples, groups8<L>, group8<L>};
}

// The packing and depth are among those can_unpack accepts.
inline Plan<u16> plan16(Packing packing, int bits) {
    using namespace layout;
    if (packing == Packing::grouped) return bits == 10 ? plan16_of<Grouped10>() : plan16_of<Grouped12>();
    return bits == 10 ? plan16_of<Lsb10>() : bits == 12 ? plan16_of<Lsb12>() : plan16_of<Lsb14>();
}

inline Plan<u8> plan8(Packing packing, int bits) {
    using namespace layout;
    if (packing == Packing::grouped) return plan8_of<Grouped8>();
    if (bits == 12) {
        Plan<u8> p = plan8_of<Lsb12>();
#if VANTIX_ISA_AVX2
        p.bulk = lsb12_groups8;
#endif
        return p;
    }
    return bits == 10 ? plan8_of<Lsb10>() : plan8_of<Lsb14>();
}

// Decodes `count` samples: the whole groups in bulk, then the last, partial
// group from a zero-padded copy of the bytes that remain, so that no byte
// past src_len is read and no value past count is written. The caller has
// checked that src_len covers count samples.
template <typename Out>
void run(const Plan<Out> &p, const u8 *src, std::size_t src_len, Out *dst, std::size_t count) {
    const std::size_t groups = count / p.samples;
    if (groups) p.bulk(src, groups, dst);
    const std::size_t rest = count - groups * p.samples;
    if (rest) {
        u8 in[layout::kMaxBytes] = {};
        Out out[layout::kMaxSamples];
        const std::size_t offset = groups * p.bytes;
        std::memcpy(in, src + offset, std::min(p.bytes, src_len - offset));
        p.group(in, out);
        std::memcpy(dst + groups * p.samples, out, rest * sizeof(Out));
    }
}

void unpack16(const u8 *src, std::size_t src_len, Packing packing, int bits, u16 *dst,
              std::size_t count) {
    run(plan16(packing, bits), src, src_len, dst, count);
}

void unpack8(const u8 *src, std::size_t src_len, Packing packing, int bits, u8 *dst,
             std::size_t count) {
    run(plan8(packing, bits), src, src_len, dst, count);
}

// Decoded a block at a time into L1, then expanded; 12p samples straight
// from registers where AVX2 is at hand.
void unpack_bgr(const u8 *src, std::size_t src_len, Packing packing, int bits, u8 *dst,
                std::size_t count) {
#if VANTIX_ISA_AVX2
    if (packing == Packing::lsb && bits == 12) {
        std::size_t i = 0;
        for (; i + 32 <= count; i += 32) {
            const __m256i grey = lsb12_top32(src + i / 2 * 3);
            store_bgr32(_mm256_castsi256_si128(grey), _mm256_extracti128_si256(grey, 1),
                        dst + 3 * i);
        }
        src += i / 2 * 3;
        src_len -= i / 2 * 3;
        dst += 3 * i;
        count -= i;
    }
#endif
    const Plan<u8> p = plan8(packing, bits);
    // Blocks are whole groups of every layout, so each starts on a group.
    static_assert(kBlock % layout::kMaxSamples == 0, "blocks must hold whole groups");
    u8 grey[kBlock];
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(kBlock, count - done);
        const std::size_t offset = done / p.samples * p.bytes;
        run(p, src + offset, src_len - offset, grey, n);
        expand_bgr(grey, n, dst + 3 * done);
        done += n;
    }
}
