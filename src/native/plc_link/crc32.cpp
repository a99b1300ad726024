#include "crc32.hpp"

#include <array>

namespace vantix::crc {

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

// One entry per byte value: the register after shifting that byte through.
constexpr std::array<std::uint32_t, 256> make_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t c = byte;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ kPolynomial : c >> 1;
        table[byte] = c;
    }
    return table;
}

constexpr auto kTable = make_table();

}  // namespace

std::uint32_t crc32(const unsigned char *data, std::size_t size, std::uint32_t crc) noexcept {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = kTable[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

}  // namespace vantix::crc
