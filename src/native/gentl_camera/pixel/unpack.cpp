// Packed samples. Each layout is a group of `bytes` bytes holding `samples`
// samples; a group is decoded to 16-bit samples or straight to their top
// 8 bits, which for every layout here is a byte or a pair of shifted bytes.
//
//   p (LSB-first bit stream): sample i occupies bits [i*b, i*b + b) of the
//   stream, bit 0 being the least significant bit of byte 0.
//     10 bits: 4 samples in 5 bytes; 12 bits: 2 in 3; 14 bits: 4 in 7.
//   Packed (2 samples in 3 bytes): byte 0 holds the high bits of sample 0,
//   byte 2 those of sample 1, byte 1 the low bits of both (sample 0 in bits
//   0.., sample 1 in bits 4..).
#include <algorithm>
#include <cstring>
#include <limits>

#include "dispatch.hpp"
#include "kernels.hpp"

namespace vantix::pixel {
namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;

struct Lsb10 {
    static constexpr std::size_t bytes = 5, samples = 4;
    static VANTIX_INLINE void decode16(const u8 *g, u16 *s) {
        s[0] = u16(g[0] | (g[1] & 0x03) << 8);
        s[1] = u16(g[1] >> 2 | (g[2] & 0x0F) << 6);
        s[2] = u16(g[2] >> 4 | (g[3] & 0x3F) << 4);
        s[3] = u16(g[3] >> 6 | g[4] << 2);
    }
    static VANTIX_INLINE void decode8(const u8 *g, u8 *s) {
        s[0] = u8(g[0] >> 2 | g[1] << 6);
        s[1] = u8(g[1] >> 4 | g[2] << 4);
        s[2] = u8(g[2] >> 6 | g[3] << 2);
        s[3] = g[4];
    }
};

struct Lsb12 {
    static constexpr std::size_t bytes = 3, samples = 2;
    static VANTIX_INLINE void decode16(const u8 *g, u16 *s) {
        s[0] = u16(g[0] | (g[1] & 0x0F) << 8);
        s[1] = u16(g[1] >> 4 | g[2] << 4);
    }
    static VANTIX_INLINE void decode8(const u8 *g, u8 *s) {
        s[0] = u8(g[0] >> 4 | g[1] << 4);
        s[1] = g[2];
    }
};

struct Lsb14 {
    static constexpr std::size_t bytes = 7, samples = 4;
    static VANTIX_INLINE void decode16(const u8 *g, u16 *s) {
        s[0] = u16(g[0] | (g[1] & 0x3F) << 8);
        s[1] = u16(g[1] >> 6 | g[2] << 2 | (g[3] & 0x0F) << 10);
        s[2] = u16(g[3] >> 4 | g[4] << 4 | (g[5] & 0x03) << 12);
        s[3] = u16(g[5] >> 2 | g[6] << 6);
    }
    static VANTIX_INLINE void decode8(const u8 *g, u8 *s) {
        s[0] = u8(g[0] >> 6 | g[1] << 2);
        s[1] = u8(g[2] >> 4 | g[3] << 4);
        s[2] = u8(g[4] >> 2 | g[5] << 6);
        s[3] = g[6];
    }
};

// Both grouped depths keep the top 8 bits in bytes 0 and 2.
struct Grouped8 {
    static constexpr std::size_t bytes = 3, samples = 2;
    static VANTIX_INLINE void decode8(const u8 *g, u8 *s) {
        s[0] = g[0];
        s[1] = g[2];
    }
};

struct Grouped10 : Grouped8 {
    static VANTIX_INLINE void decode16(const u8 *g, u16 *s) {
        s[0] = u16(g[0] << 2 | (g[1] & 0x03));
        s[1] = u16(g[2] << 2 | (g[1] >> 4 & 0x03));
    }
};

struct Grouped12 : Grouped8 {
    static VANTIX_INLINE void decode16(const u8 *g, u16 *s) {
        s[0] = u16(g[0] << 4 | (g[1] & 0x0F));
        s[1] = u16(g[2] << 4 | g[1] >> 4);
    }
};

// Whole groups only; the caller has checked the input length.
template <class L>
VANTIX_INLINE void groups16(const u8 *__restrict src, std::size_t groups, u16 *__restrict dst) {
    for (std::size_t i = 0; i < groups; ++i) L::decode16(src + i * L::bytes, dst + i * L::samples);
}

template <class L>
VANTIX_INLINE void groups8(const u8 *__restrict src, std::size_t groups, u8 *__restrict dst) {
    for (std::size_t i = 0; i < groups; ++i) L::decode8(src + i * L::bytes, dst + i * L::samples);
}

// Top 8 bits replicated into B, G and R. Decoding a block into a small
// buffer first lets both halves vectorise; the buffer stays in L1.
template <class L>
VANTIX_INLINE void groups_bgr(const u8 *__restrict src, std::size_t groups, u8 *__restrict dst) {
    constexpr std::size_t kBlock = 1024;  // groups per block
    u8 grey[kBlock * L::samples];
    for (std::size_t b = 0; b < groups; b += kBlock) {
        const std::size_t n = std::min(kBlock, groups - b);
        groups8<L>(src + b * L::bytes, n, grey);
        u8 *__restrict d = dst + b * 3 * L::samples;
        for (std::size_t i = 0; i < n * L::samples; ++i) {
            d[3 * i] = grey[i];
            d[3 * i + 1] = grey[i];
            d[3 * i + 2] = grey[i];
        }
    }
}

#define VANTIX_GROUP_LOOPS(L)                                                                  \
    VANTIX_HOT void L##_16(const u8 *src, std::size_t groups, u16 *dst) {                     \
        groups16<L>(src, groups, dst);                                                         \
    }
VANTIX_GROUP_LOOPS(Lsb10)
VANTIX_GROUP_LOOPS(Lsb12)
VANTIX_GROUP_LOOPS(Lsb14)
VANTIX_GROUP_LOOPS(Grouped10)
VANTIX_GROUP_LOOPS(Grouped12)
#undef VANTIX_GROUP_LOOPS

#define VANTIX_GROUP_LOOPS(L)                                                                  \
    VANTIX_HOT void L##_8(const u8 *src, std::size_t groups, u8 *dst) {                       \
        groups8<L>(src, groups, dst);                                                          \
    }                                                                                          \
    VANTIX_HOT void L##_bgr(const u8 *src, std::size_t groups, u8 *dst) {                     \
        groups_bgr<L>(src, groups, dst);                                                       \
    }
VANTIX_GROUP_LOOPS(Lsb10)
VANTIX_GROUP_LOOPS(Lsb12)
VANTIX_GROUP_LOOPS(Lsb14)
VANTIX_GROUP_LOOPS(Grouped8)
#undef VANTIX_GROUP_LOOPS

// Bulk loops for the whole groups and the layout's shape, for one target.
template <typename Out>
struct Plan {
    std::size_t bytes = 0, samples = 0, out_per_sample = 1;
    void (*bulk)(const u8 *, std::size_t, Out *) = nullptr;
    void (*group)(const u8 *, Out *) = nullptr;  // one group, into scratch
};

template <class L, typename Out>
Plan<Out> plan(void (*bulk)(const u8 *, std::size_t, Out *), void (*group)(const u8 *, Out *),
               std::size_t out_per_sample) {
    return {L::bytes, L::samples, out_per_sample, bulk, group};
}

template <class L>
void one16(const u8 *g, u16 *s) {
    L::decode16(g, s);
}
template <class L>
void one8(const u8 *g, u8 *s) {
    L::decode8(g, s);
}
template <class L>
void one_bgr(const u8 *g, u8 *s) {
    groups_bgr<L>(g, 1, s);
}

bool plan16(Packing packing, int bits, Plan<u16> &p) {
    if (packing == Packing::lsb && bits == 10) p = plan<Lsb10, u16>(Lsb10_16, one16<Lsb10>, 1);
    else if (packing == Packing::lsb && bits == 12) p = plan<Lsb12, u16>(Lsb12_16, one16<Lsb12>, 1);
    else if (packing == Packing::lsb && bits == 14) p = plan<Lsb14, u16>(Lsb14_16, one16<Lsb14>, 1);
    else if (packing == Packing::grouped && bits == 10)
        p = plan<Grouped10, u16>(Grouped10_16, one16<Grouped10>, 1);
    else if (packing == Packing::grouped && bits == 12)
        p = plan<Grouped12, u16>(Grouped12_16, one16<Grouped12>, 1);
    else return false;
    return true;
}

bool plan8(Packing packing, int bits, bool bgr, Plan<u8> &p) {
    const std::size_t n = bgr ? 3 : 1;
    if (packing == Packing::lsb && bits == 10)
        p = plan<Lsb10, u8>(bgr ? Lsb10_bgr : Lsb10_8, bgr ? one_bgr<Lsb10> : one8<Lsb10>, n);
    else if (packing == Packing::lsb && bits == 12)
        p = plan<Lsb12, u8>(bgr ? Lsb12_bgr : Lsb12_8, bgr ? one_bgr<Lsb12> : one8<Lsb12>, n);
    else if (packing == Packing::lsb && bits == 14)
        p = plan<Lsb14, u8>(bgr ? Lsb14_bgr : Lsb14_8, bgr ? one_bgr<Lsb14> : one8<Lsb14>, n);
    else if (packing == Packing::grouped && (bits == 10 || bits == 12))
        p = plan<Grouped8, u8>(bgr ? Grouped8_bgr : Grouped8_8,
                               bgr ? one_bgr<Grouped8> : one8<Grouped8>, n);
    else return false;
    return true;
}

// Runs a plan over `count` samples: the whole groups in bulk, then the last,
// partial group from a zero-padded copy of the bytes that remain, so that no
// byte past src_len is read and no value past count is written.
template <typename Out>
Status run(const Plan<Out> &p, Packing packing, int bits, const u8 *src, std::size_t src_len,
           Out *dst, std::size_t count) {
    std::size_t need = 0;
    if (!packed_size(packing, bits, count, need)) return Status::too_small;
    if (src_len < need) return Status::too_small;
    const std::size_t groups = count / p.samples;
    if (groups) p.bulk(src, groups, dst);
    const std::size_t rest = count - groups * p.samples;
    if (rest) {
        u8 in[8] = {};
        Out out[4 * 3];
        const std::size_t offset = groups * p.bytes;
        std::memcpy(in, src + offset, std::min(p.bytes, src_len - offset));
        p.group(in, out);
        std::memcpy(dst + groups * p.samples * p.out_per_sample, out,
                    rest * p.out_per_sample * sizeof(Out));
    }
    return Status::ok;
}

}  // namespace

bool can_unpack(Packing packing, int bits) {
    switch (packing) {
    case Packing::lsb:
        return bits == 10 || bits == 12 || bits == 14;
    case Packing::grouped:
        return bits == 10 || bits == 12;
    default:
        return false;
    }
}

bool packed_size(Packing packing, int bits, std::size_t count, std::size_t &bytes) {
    if (!can_unpack(packing, bits)) return false;
    // Grouped samples take 12 bits each whatever their depth.
    const std::size_t width = packing == Packing::grouped ? 12 : static_cast<std::size_t>(bits);
    if (count > std::numeric_limits<std::size_t>::max() / width) return false;
    bytes = (count * width + 7) / 8;
    return true;
}

Status unpack16(const u8 *src, std::size_t src_len, Packing packing, int bits, u16 *dst,
                std::size_t count) {
    Plan<u16> p;
    if (!plan16(packing, bits, p)) return Status::unsupported;
    return run(p, packing, bits, src, src_len, dst, count);
}

Status unpack8(const u8 *src, std::size_t src_len, Packing packing, int bits, u8 *dst,
               std::size_t count) {
    Plan<u8> p;
    if (!plan8(packing, bits, false, p)) return Status::unsupported;
    return run(p, packing, bits, src, src_len, dst, count);
}

Status unpack_bgr(const u8 *src, std::size_t src_len, Packing packing, int bits, u8 *dst,
                  std::size_t count) {
    Plan<u8> p;
    if (!plan8(packing, bits, true, p)) return Status::unsupported;
    return run(p, packing, bits, src, src_len, dst, count);
}

}  // namespace vantix::pixel
