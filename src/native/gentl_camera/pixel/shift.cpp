// Depth reduction of 16-bit samples to 8 bits by a right shift. A sample
// with bits set above its nominal depth saturates at 255 instead of wrapping,
// so that a bright pixel stays bright. The loops are in shift.simd.hpp.
#include <limits>

#include "kernels.hpp"
#include "parallel.hpp"
#include "simd.hpp"

namespace vantix::pixel {
namespace {

// Checks the shift and that src holds `count` words, then calls
// convert(first, n) for parts of the frame, threads sharing them.
template <class Convert>
Status in_parts(std::size_t src_len, int shift, std::size_t count, std::size_t out_bytes,
                const Convert &convert) {
    if (shift < 0 || shift > 15) return Status::unsupported;
    if (count > std::numeric_limits<std::size_t>::max() / 2 || src_len < 2 * count)
        return Status::too_small;
    parallel_parts(count, 64, out_bytes, [&](std::size_t, std::size_t begin, std::size_t end) {
        convert(begin, end - begin);
    });
    return Status::ok;
}

}  // namespace

Status shift8(const std::uint8_t *src, std::size_t src_len, int shift, std::uint8_t *dst,
              std::size_t count) {
    return in_parts(src_len, shift, count, 1, [&](std::size_t first, std::size_t n) {
        simd().shift8(src + 2 * first, shift, dst + first, n);
    });
}

Status shift_bgr(const std::uint8_t *src, std::size_t src_len, int shift, std::uint8_t *dst,
                 std::size_t count) {
    return in_parts(src_len, shift, count, 3, [&](std::size_t first, std::size_t n) {
        simd().shift_bgr(src + 2 * first, shift, dst + 3 * first, n);
    });
}

}  // namespace vantix::pixel
