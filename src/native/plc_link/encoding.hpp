// The register values of one inspection result, free of Python: the scaled
// score, the sequence number and the product hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

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

// The most registers one write-multiple-registers request (function 16) may
// carry.
constexpr std::size_t kMaxBlockRegisters = 123;

// The first address of the block when the `count` register addresses are
// distinct and together cover first..first+count-1 (in any order) inside
// 0..65535, so one write-multiple-registers request can carry them all;
// nothing otherwise (none at all, too many, a gap, a repeat, out of range).
std::optional<std::uint16_t> block_start(const long long *addresses, std::size_t count) noexcept;

}  // namespace vantix::plc
