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
#include "expand.hpp"
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

// The dispatched loops, one per layout and output type.
#define VANTIX_LOOP16(L)                                                                       \
    VANTIX_HOT void L##_16(const u8 *src, std::size_t groups, u16 *dst) {                     \
        groups16<L>(src, groups, dst);                                                         \
    }
#define VANTIX_LOOP8(L)                                                                        \
    VANTIX_HOT void L##_8(const u8 *src, std::size_t groups, u8 *dst) {                       \
        groups8<L>(src, groups, dst);                                                          \
    }
VANTIX_LOOP16(Lsb10)
VANTIX_LOOP16(Lsb12)
VANTIX_LOOP16(Lsb14)
VANTIX_LOOP16(Grouped10)
VANTIX_LOOP16(Grouped12)
VANTIX_LOOP8(Lsb10)
VANTIX_LOOP8(Lsb12)
VANTIX_LOOP8(Lsb14)
VANTIX_LOOP8(Grouped8)
#undef VANTIX_LOOP16
#undef VANTIX_LOOP8

// A layout's shape and its loops for one output type: `bulk` decodes whole
// groups, `group` one group into scratch.
template <typename Out>
struct Plan {
    std::size_t bytes = 0, samples = 0;
    void (*bulk)(const u8 *, std::size_t, Out *) = nullptr;
    void (*group)(const u8 *, Out *) = nullptr;
};

template <class L>
void one16(const u8 *g, u16 *s) {
    L::decode16(g, s);
}
template <class L>
void one8(const u8 *g, u8 *s) {
    L::decode8(g, s);
}

template <class L, typename Out>
Plan<Out> plan_of(void (*bulk)(const u8 *, std::size_t, Out *), void (*group)(const u8 *, Out *)) {
    return {L::bytes, L::samples, bulk, group};
}

bool plan16(Packing packing, int bits, Plan<u16> &p) {
    if (packing == Packing::lsb && bits == 10)
        p = plan_of<Lsb10>(Lsb10_16, one16<Lsb10>);
    else if (packing == Packing::lsb && bits == 12)
        p = plan_of<Lsb12>(Lsb12_16, one16<Lsb12>);
    else if (packing == Packing::lsb && bits == 14)
        p = plan_of<Lsb14>(Lsb14_16, one16<Lsb14>);
    else if (packing == Packing::grouped && bits == 10)
        p = plan_of<Grouped10>(Grouped10_16, one16<Grouped10>);
    else if (packing == Packing::grouped && bits == 12)
        p = plan_of<Grouped12>(Grouped12_16, one16<Grouped12>);
    else
        return false;
    return true;
}

bool plan8(Packing packing, int bits, Plan<u8> &p) {
    if (packing == Packing::lsb && bits == 10)
        p = plan_of<Lsb10>(Lsb10_8, one8<Lsb10>);
    else if (packing == Packing::lsb && bits == 12)
        p = plan_of<Lsb12>(Lsb12_8, one8<Lsb12>);
    else if (packing == Packing::lsb && bits == 14)
        p = plan_of<Lsb14>(Lsb14_8, one8<Lsb14>);
    else if (packing == Packing::grouped && (bits == 10 || bits == 12))
        p = plan_of<Grouped8>(Grouped8_8, one8<Grouped8>);
    else
        return false;
    return true;
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
        u8 in[8] = {};
        Out out[4];
        const std::size_t offset = groups * p.bytes;
        std::memcpy(in, src + offset, std::min(p.bytes, src_len - offset));
        p.group(in, out);
        std::memcpy(dst + groups * p.samples, out, rest * sizeof(Out));
    }
}

bool covers(Packing packing, int bits, std::size_t src_len, std::size_t count) {
    std::size_t need = 0;
    return packed_size(packing, bits, count, need) && src_len >= need;
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
    if (!covers(packing, bits, src_len, count)) return Status::too_small;
    run(p, src, src_len, dst, count);
    return Status::ok;
}

Status unpack8(const u8 *src, std::size_t src_len, Packing packing, int bits, u8 *dst,
               std::size_t count) {
    Plan<u8> p;
    if (!plan8(packing, bits, p)) return Status::unsupported;
    if (!covers(packing, bits, src_len, count)) return Status::too_small;
    run(p, src, src_len, dst, count);
    return Status::ok;
}

Status unpack_bgr(const u8 *src, std::size_t src_len, Packing packing, int bits, u8 *dst,
                  std::size_t count) {
    Plan<u8> p;
    if (!plan8(packing, bits, p)) return Status::unsupported;
    if (!covers(packing, bits, src_len, count)) return Status::too_small;
    const bool stream = count >= detail::kStreamBytes / 3;
    // Blocks are whole groups of every layout, so each starts on a group.
    static_assert(detail::kBlock % 4 == 0, "blocks must hold whole groups");
    u8 grey[detail::kBlock];
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(detail::kBlock, count - done);
        const std::size_t offset = done / p.samples * p.bytes;
        run(p, src + offset, src_len - offset, grey, n);
        detail::expand_bgr(grey, n, dst + 3 * done, stream);
        done += n;
    }
    return Status::ok;
}

}  // namespace vantix::pixel
