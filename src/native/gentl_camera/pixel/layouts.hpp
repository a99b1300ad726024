// Packed-sample layouts. Each is a group of `bytes` bytes holding `samples`
// samples; a group is decoded to 16-bit samples or straight to their top
// 8 bits, which for every layout here is a byte or a pair of shifted bytes.
//
//   p (LSB-first bit stream): sample i occupies bits [i*b, i*b + b) of the
//   stream, bit 0 being the least significant bit of byte 0.
//     10 bits: 4 samples in 5 bytes; 12 bits: 2 in 3; 14 bits: 4 in 7.
//   Packed (2 samples in 3 bytes): byte 0 holds the high bits of sample 0,
//   byte 2 those of sample 1, byte 1 the low bits of both (sample 0 in bits
//   0.., sample 1 in bits 4..).
//
// Plain inline code: the vector loops that call it are compiled once per
// instruction set (simd.hpp).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define VANTIX_INLINE inline __attribute__((always_inline))
#else
#define VANTIX_INLINE inline
#endif

namespace vantix::pixel::layout {

using u8 = std::uint8_t;
using u16 = std::uint16_t;

// Every group holds at most this many samples in at most this many bytes.
constexpr std::size_t kMaxSamples = 4, kMaxBytes = 8;

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

}  // namespace vantix::pixel::layout
