#include "encoding.hpp"

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

}  // namespace vantix::plc
