// Grey values written three times each, the last step of every conversion to
// BGR. Shared by the kernels; not part of their interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantix::pixel::detail {

// Outputs at least this large bypass the cache (non-temporal stores): they do
// not fit in it anyway, and skipping the read-for-ownership of every line
// saves a third of the memory traffic.
constexpr std::size_t kStreamBytes = std::size_t(8) << 20;

// dst[3i] = dst[3i + 1] = dst[3i + 2] = grey[i] for i < n. `stream` selects
// non-temporal stores where the CPU has them.
void expand_bgr(const std::uint8_t *grey, std::size_t n, std::uint8_t *dst, bool stream);

// Grey values are produced in blocks of this many into a buffer on the
// stack, which stays in L1 while it is expanded.
constexpr std::size_t kBlock = 4096;

}  // namespace vantix::pixel::detail
