// 8-bit sources to interleaved BGR: grey replicated into the three channels,
// colour reordered with any alpha dropped.
#include <cstring>
#include <limits>

#include "dispatch.hpp"
#include "expand.hpp"
#include "kernels.hpp"

namespace vantix::pixel {
namespace {

using u8 = std::uint8_t;

// Source pixels of N bytes with blue, green and red at B, G and R.
template <std::size_t N, std::size_t B, std::size_t G, std::size_t R>
VANTIX_INLINE void reorder(const u8 *__restrict src, std::size_t count, u8 *__restrict dst) {
    for (std::size_t i = 0; i < count; ++i) {
        dst[3 * i] = src[N * i + B];
        dst[3 * i + 1] = src[N * i + G];
        dst[3 * i + 2] = src[N * i + R];
    }
}

VANTIX_HOT void rgb_loop(const u8 *src, std::size_t count, u8 *dst) {
    reorder<3, 2, 1, 0>(src, count, dst);
}
VANTIX_HOT void rgba_loop(const u8 *src, std::size_t count, u8 *dst) {
    reorder<4, 2, 1, 0>(src, count, dst);
}
VANTIX_HOT void bgra_loop(const u8 *src, std::size_t count, u8 *dst) {
    reorder<4, 0, 1, 2>(src, count, dst);
}

std::size_t bytes_per_pixel(Order order) {
    switch (order) {
    case Order::gray:
        return 1;
    case Order::rgb:
    case Order::bgr:
        return 3;
    default:
        return 4;
    }
}

}  // namespace

Status to_bgr8(const u8 *src, std::size_t src_len, Order order, u8 *dst, std::size_t count) {
    const std::size_t n = bytes_per_pixel(order);
    if (count > std::numeric_limits<std::size_t>::max() / 4 || src_len < n * count)
        return Status::too_small;
    if (!count) return Status::ok;
    switch (order) {
    case Order::gray:
        detail::expand_bgr(src, count, dst, count >= detail::kStreamBytes / 3);
        break;
    case Order::rgb:
        rgb_loop(src, count, dst);
        break;
    case Order::bgr:
        std::memcpy(dst, src, 3 * count);
        break;
    case Order::rgba:
        rgba_loop(src, count, dst);
        break;
    case Order::bgra:
        bgra_loop(src, count, dst);
        break;
    }
    return Status::ok;
}

}  // namespace vantix::pixel
