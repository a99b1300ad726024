// 8-bit sources to interleaved BGR; the loops are in colour.simd.hpp.
#include <limits>

#include "kernels.hpp"
#include "parallel.hpp"
#include "simd.hpp"

namespace vantix::pixel {
namespace {

std::size_t bytes_per_pixel(Order order) {
    switch (order) {
        case Order::grey:
            return 1;
        case Order::rgb:
        case Order::bgr:
            return 3;
        default:
            return 4;
    }
}

}  // namespace

Status to_bgr8(const std::uint8_t *src, std::size_t src_len, Order order, std::uint8_t *dst,
               std::size_t count) {
    const std::size_t n = bytes_per_pixel(order);
    if (count > std::numeric_limits<std::size_t>::max() / 4 || src_len < n * count)
        return Status::too_small;
    parallel_parts(count, 64, 3, [&](std::size_t, std::size_t begin, std::size_t end) {
        simd().to_bgr8(src + n * begin, order, dst + 3 * begin, end - begin);
    });
    return Status::ok;
}

}  // namespace vantix::pixel
