// The register values of one inspection result, free of Python: the scaled
// score, the sequence number and the product hash.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantix::plc {

constexpr std::uint32_t kU16Max = 65535;  // the largest register value

// score × scale clamped into 0..65535 and truncated toward zero; a NaN
// product gives 0.
std::uint16_t scaled_score(double product) noexcept;

// The sequence number after `seq`: 1, 2, ... 65535, then 0 again. Only the
// low 16 bits of `seq` matter (any integer, taken modulo 2^64).
std::uint16_t next_sequence(std::uint64_t seq) noexcept;

// The low 16 bits of the CRC-32 (as zlib computes it) of `size` bytes of
// text (UTF-8); `text` may be null when `size` is 0.
std::uint16_t product_hash(const char *text, std::size_t size) noexcept;

}  // namespace vantix::plc
