// Big-endian fields at explicit offsets: every GigE Vision field is one.
// Readers take a pointer the caller has already bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantix::gev::be {

inline std::uint16_t get16(const std::uint8_t *p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
inline std::uint32_t get32(const std::uint8_t *p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}
inline std::uint64_t get64(const std::uint8_t *p) {
    return std::uint64_t{get32(p)} << 32 | get32(p + 4);
}

inline void put16(std::vector<std::uint8_t> &out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
inline void put32(std::vector<std::uint8_t> &out, std::uint32_t v) {
    put16(out, static_cast<std::uint16_t>(v >> 16));
    put16(out, static_cast<std::uint16_t>(v));
}
inline void put64(std::vector<std::uint8_t> &out, std::uint64_t v) {
    put32(out, static_cast<std::uint32_t>(v >> 32));
    put32(out, static_cast<std::uint32_t>(v));
}

}  // namespace vantix::gev::be
