// Packed samples (layouts.hpp) to 16-bit samples, to their top 8 bits and to
// grey BGR. Included by kernels.simd.hpp.

// Whole groups only; the caller has checked the input length.
template <class L>
void groups16(const u8 *__restrict src, std::size_t groups, u16 *__restrict dst) {
    for (std::size_t i = 0; i < groups; ++i) L::decode16(src + i * L::bytes, dst + i * L::samples);
}

template <class L>
void groups8(const u8 *__restrict src, std::size_t groups, u8 *__restrict dst) {
    for (std::size_t i = 0; i < groups; ++i) L::decode8(src + i * L::bytes, dst + i * L::samples);
}

// A layout's shape and its loops for one output type: `bulk` decodes whole
// groups, `group` one group into scratch.
template <typename Out>
struct Plan {
    std::size_t bytes = 0, samples = 0;
    void (*bulk)(const u8 *, std::size_t, Out *) = nullptr;
    void (*group)(const u8 *, Out *) = nullptr;
};

#if VANTIX_VEC
// Gathers of lsb12_top: sample 2j of a lane is the word of bytes 3j and
// 3j + 1 shifted right by 4, sample 2j + 1 is byte 3j + 2. Groups 0..4 of a
// lane come from its first 16 bytes, 5..7 from 16 bytes 8 further on.
constexpr std::int8_t kLsb12Low[2][16] = {
    {0, 1, 3, 4, 6, 7, 9, 10, 12, 13, -1, -1, -1, -1, -1, -1},
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 7, 8, 10, 11, 13, 14}};
constexpr std::int8_t kLsb12High[2][16] = {
    {-1, 2, -1, 5, -1, 8, -1, 11, -1, 14, -1, -1, -1, -1, -1, -1},
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 9, -1, 12, -1, 15}};

// The top 8 bits of kVec 12p samples (3 * kVec / 2 bytes at p), in order;
// each lane decodes its own 8 groups (24 bytes).
VANTIX_INLINE Vec lsb12_top(const u8 *p) {
    const Vec first = load_lanes(p, 24), second = load_lanes(p + 8, 24);
    const Vec words =
        or_(shuffle8(first, lanes(kLsb12Low[0])), shuffle8(second, lanes(kLsb12Low[1])));
    const Vec odd =
        or_(shuffle8(first, lanes(kLsb12High[0])), shuffle8(second, lanes(kLsb12High[1])));
    return or_(and_(shr16<4>(words), splat16(0x00FF)), odd);
}

// groups8<Lsb12>, a vector at a time.
inline void lsb12_groups8(const u8 *__restrict src, std::size_t groups, u8 *__restrict dst) {
    constexpr std::size_t step = kVec / 2;  // groups per vector
    std::size_t i = 0;
    for (; i + step <= groups; i += step) store(dst + 2 * i, lsb12_top(src + 3 * i));
    groups8<layout::Lsb12>(src + 3 * i, groups - i, dst + 2 * i);
}
#endif

template <class L>
Plan<u16> plan16_of() {
    return {L::bytes, L::samples, groups16<L>, L::decode16};
}
template <class L>
Plan<u8> plan8_of() {
    return {L::bytes, L::samples, groups8<L>, L::decode8};
}

// The packing and depth are among those can_unpack accepts.
inline Plan<u16> plan16(Packing packing, int bits) {
    using namespace layout;
    if (packing == Packing::grouped)
        return bits == 10 ? plan16_of<Grouped10>() : plan16_of<Grouped12>();
    return bits == 10 ? plan16_of<Lsb10>() : bits == 12 ? plan16_of<Lsb12>() : plan16_of<Lsb14>();
}

inline Plan<u8> plan8(Packing packing, int bits) {
    using namespace layout;
    if (packing == Packing::grouped) return plan8_of<Grouped8>();
    if (bits == 12) {
        Plan<u8> p = plan8_of<Lsb12>();
#if VANTIX_VEC
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
// from registers where there are vectors.
void unpack_bgr(const u8 *src, std::size_t src_len, Packing packing, int bits, u8 *dst,
                std::size_t count) {
#if VANTIX_VEC
    if (packing == Packing::lsb && bits == 12) {
        std::size_t i = 0;
        for (; i + kVec <= count; i += kVec) store_grey(lsb12_top(src + i / 2 * 3), dst + 3 * i);
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
