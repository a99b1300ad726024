// Writes a line of samples in the memory layout of a pixel format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixel_formats.hpp"

namespace vantix::sim {

// Stores `count` samples (each below 2^bits of the format) at `out`, which
// must hold the packed size of `count` samples. `count` is a multiple of the
// packing group (4 for lsb10, 2 for the other packed layouts).
void pack_samples(Packing packing, const std::uint16_t *samples, std::size_t count,
                  std::uint8_t *out);

}  // namespace vantix::sim
