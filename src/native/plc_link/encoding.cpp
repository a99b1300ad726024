#include "encoding.hpp"

#include <algorithm>
#include <array>

#include "crc32.hpp"

namespace vantix::plc {

std::uint16_t scaled_score(double product) noexcept {
    // Ordered so that a NaN product fails both comparisons and gives 0.
    const double upper = static_cast<double>(kU16Max);
    const double clamped = upper < product ? upper : product;
    return static_cast<std::uint16_t>(clamped > 0.0 ? clamped : 0.0);
}

std::uint16_t next_sequence(std::uint64_t seq) noexcept {
    return static_cast<std::uint16_t>((seq + 1) & kU16Max);
}

std::uint16_t product_hash(const char *text, std::size_t size) noexcept {
    const auto crc = crc::crc32(reinterpret_cast<const unsigned char *>(text), size);
    return static_cast<std::uint16_t>(crc & kU16Max);
}

std::optional<std::uint16_t> block_start(const long long *addresses, std::size_t count) noexcept {
    if (count == 0 || count > kMaxBlockRegisters) return std::nullopt;
    const long long first = *std::min_element(addresses, addresses + count);
    // Compared so that no sum can overflow, whatever the addresses.
    if (first < 0 || first > static_cast<long long>(kU16Max - (count - 1))) return std::nullopt;
    // count addresses inside a span of count: a block unless one repeats.
    std::array<bool, kMaxBlockRegisters> seen{};
    for (std::size_t i = 0; i < count; ++i) {
        // first is the smallest: offset is never negative.
        const auto offset = static_cast<std::size_t>(addresses[i] - first);
        if (offset >= count || seen[offset]) return std::nullopt;
        seen[offset] = true;
    }
    return static_cast<std::uint16_t>(first);
}

}  // namespace vantix::plc
