// CRC-32 as zlib computes it (ISO-HDLC: reflected polynomial 0xEDB88320,
// initial value and final xor 0xFFFFFFFF), so a checksum agrees with
// zlib.crc32 on the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantix::crc {

// Continues `crc` (the checksum of the bytes before `data`; 0 to start) over
// `size` bytes. `data` may be null when `size` is 0.
std::uint32_t crc32(const unsigned char *data, std::size_t size, std::uint32_t crc = 0) noexcept;

}  // namespace vantix::crc
