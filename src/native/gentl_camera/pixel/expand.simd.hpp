// Grey values written three times each, the last step of every conversion
// of grey to BGR. Included by kernels.simd.hpp.

// Grey values are produced in blocks of this many into a buffer on the
// stack, which stays in L1 while it is expanded.
constexpr std::size_t kBlock = 4096;

inline void expand_portable(const u8 *__restrict grey, std::size_t n, u8 *__restrict dst) {
    for (std::size_t i = 0; i < n; ++i) {
        const u8 v = grey[i];
        dst[3 * i] = v;
        dst[3 * i + 1] = v;
        dst[3 * i + 2] = v;
    }
}

// dst[3i] = dst[3i + 1] = dst[3i + 2] = grey[i] for i < n. Plain stores: the
// image is read soon, and a frame fits in a large last level cache, which
// non-temporal stores would bypass.
inline void expand_bgr(const u8 *grey, std::size_t n, u8 *dst) {
    std::size_t i = 0;
#if VANTIX_VEC
    for (; i + kVec <= n; i += kVec) store_grey(load(grey + i), dst + 3 * i);
#endif
    expand_portable(grey + i, n - i, dst + 3 * i);
}
