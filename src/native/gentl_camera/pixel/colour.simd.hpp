// 8-bit sources to interleaved BGR: grey replicated into the three channels,
// colour reordered with any alpha dropped. Included by kernels.simd.hpp.

// Source pixels of N bytes with blue, green and red at B, G and R.
template <std::size_t N, std::size_t B, std::size_t G, std::size_t R>
void reorder(const u8 *__restrict src, std::size_t count, u8 *__restrict dst) {
    for (std::size_t i = 0; i < count; ++i) {
        dst[3 * i] = src[N * i + B];
        dst[3 * i + 1] = src[N * i + G];
        dst[3 * i + 2] = src[N * i + R];
    }
}

void to_bgr8(const u8 *src, Order order, u8 *dst, std::size_t count) {
    switch (order) {
        case Order::grey:
            expand_bgr(src, count, dst);
            break;
        case Order::rgb:
            reorder<3, 2, 1, 0>(src, count, dst);
            break;
        case Order::bgr:
            std::memcpy(dst, src, 3 * count);
            break;
        case Order::rgba:
            reorder<4, 2, 1, 0>(src, count, dst);
            break;
        case Order::bgra:
            reorder<4, 0, 1, 2>(src, count, dst);
            break;
    }
}
