#include "packing.hpp"

#include <cstring>

namespace vantix::sim {

namespace {

// PFNC "p": sample i occupies bits [10i, 10i + 10) of a little-endian stream.
void pack_lsb10(const std::uint16_t *s, std::size_t count, std::uint8_t *out) {
    for (std::size_t i = 0; i < count; i += 4, s += 4, out += 5) {
        const std::uint64_t group = std::uint64_t(s[0]) | std::uint64_t(s[1]) << 10 |
                                    std::uint64_t(s[2]) << 20 | std::uint64_t(s[3]) << 30;
        for (int b = 0; b < 5; ++b) out[b] = static_cast<std::uint8_t>(group >> (8 * b));
    }
}

void pack_lsb12(const std::uint16_t *s, std::size_t count, std::uint8_t *out) {
    for (std::size_t i = 0; i < count; i += 2, s += 2, out += 3) {
        out[0] = static_cast<std::uint8_t>(s[0]);
        out[1] = static_cast<std::uint8_t>((s[0] >> 8) | (s[1] & 0x0F) << 4);
        out[2] = static_cast<std::uint8_t>(s[1] >> 4);
    }
}

// GigE "Packed": the high bits of each sample in bytes 0 and 2, the low bits
// of both in the middle byte (sample 0 in the low nibble).
void pack_grouped10(const std::uint16_t *s, std::size_t count, std::uint8_t *out) {
    for (std::size_t i = 0; i < count; i += 2, s += 2, out += 3) {
        out[0] = static_cast<std::uint8_t>(s[0] >> 2);
        out[1] = static_cast<std::uint8_t>((s[0] & 0x3) | (s[1] & 0x3) << 4);
        out[2] = static_cast<std::uint8_t>(s[1] >> 2);
    }
}

void pack_grouped12(const std::uint16_t *s, std::size_t count, std::uint8_t *out) {
    for (std::size_t i = 0; i < count; i += 2, s += 2, out += 3) {
        out[0] = static_cast<std::uint8_t>(s[0] >> 4);
        out[1] = static_cast<std::uint8_t>((s[0] & 0xF) | (s[1] & 0xF) << 4);
        out[2] = static_cast<std::uint8_t>(s[1] >> 4);
    }
}

}  // namespace

void pack_samples(Packing packing, const std::uint16_t *samples, std::size_t count,
                  std::uint8_t *out) {
    switch (packing) {
        case Packing::bytes:
            for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(samples[i]);
            return;
        case Packing::words:
            for (std::size_t i = 0; i < count; ++i) {
                out[2 * i] = static_cast<std::uint8_t>(samples[i]);
                out[2 * i + 1] = static_cast<std::uint8_t>(samples[i] >> 8);
            }
            return;
        case Packing::lsb10:
            return pack_lsb10(samples, count, out);
        case Packing::lsb12:
            return pack_lsb12(samples, count, out);
        case Packing::grouped10:
            return pack_grouped10(samples, count, out);
        case Packing::grouped12:
            return pack_grouped12(samples, count, out);
    }
}

}  // namespace vantix::sim
