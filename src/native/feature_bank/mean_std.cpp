#include "mean_std.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "../common/work_sharing.hpp"

namespace vantix::stats {
namespace {

// A block of every sample should stay in cache between the two passes.
constexpr std::size_t kCacheBytes = std::size_t{256} * 1024;
constexpr std::size_t kMinBlock = 256;
constexpr std::size_t kMaxBlock = 16384;
// Below this many input elements a second thread costs more than it saves.
constexpr std::size_t kMinParallel = 1 << 16;

// np.maximum: NaN in either operand wins.
template <typename Acc>
inline Acc nan_max(Acc a, Acc b) {
    return (a >= b || std::isnan(a)) ? a : b;
}

// numpy divides the float32 sum by the integer count in float64 and rounds
// back; for float32 that equals a correctly rounded float32 division.
template <typename Acc>
inline Acc divide(Acc sum, std::size_t n) {
    return static_cast<Acc>(static_cast<double>(sum) / static_cast<double>(n));
}

// Elements [b, e) of both outputs: their sums over every sample, then the
// squared deviations, while that block of the samples is in cache.
template <typename T, typename Acc>
void mean_std_block(const T *const *samples, std::size_t n, std::size_t b, std::size_t e, Acc floor,
                    Acc eps, Acc *__restrict mean, Acc *__restrict sd) {
    Acc *__restrict m = mean + b;
    Acc *__restrict s = sd + b;
    const std::size_t len = e - b;

    std::fill(m, m + len, Acc(0));
    for (std::size_t i = 0; i < n; ++i) {
        const T *__restrict x = samples[i] + b;
        for (std::size_t j = 0; j < len; ++j) m[j] += static_cast<Acc>(x[j]);
    }
    for (std::size_t j = 0; j < len; ++j) m[j] = divide(m[j], n);

    std::fill(s, s + len, Acc(0));
    for (std::size_t i = 0; i < n; ++i) {
        const T *__restrict x = samples[i] + b;
        for (std::size_t j = 0; j < len; ++j) {
            const Acc dev = static_cast<Acc>(x[j]) - m[j];
            s[j] += dev * dev;
        }
    }
    for (std::size_t j = 0; j < len; ++j) s[j] = nan_max(std::sqrt(divide(s[j], n)), floor) + eps;
}

}  // namespace

template <typename T, typename Acc>
void mean_std(const T *const *samples, std::size_t n, std::size_t d, Acc floor, Acc eps, Acc *mean,
              Acc *sd) {
    if (n == 0 || d == 0) return;
    // Threads take whole blocks, multiples of 16 elements so that their
    // vector loops start aligned alike. One thread sums an element over all
    // samples in order, so the bits do not depend on who took which block.
    const std::size_t block =
        std::clamp(kCacheBytes / (n * sizeof(T)), kMinBlock, kMaxBlock) & ~std::size_t(15);
    const std::size_t blocks = (d + block - 1) / block;
    const std::size_t workers = n * d < kMinParallel ? 1 : work::threads();
    work::for_parts(blocks, workers, [&](std::size_t, std::size_t i) {
        const std::size_t begin = i * block;
        mean_std_block<T, Acc>(samples, n, begin, std::min(d, begin + block), floor, eps, mean, sd);
    });
}

// NOLINTBEGIN(bugprone-macro-parentheses): T and Acc are types
#define VANTIX_MEAN_STD(T, Acc)                                                                 \
    template void mean_std<T, Acc>(const T *const *, std::size_t, std::size_t, Acc, Acc, Acc *, \
                                   Acc *);
// NOLINTEND(bugprone-macro-parentheses)
VANTIX_MEAN_STD(float, float)
VANTIX_MEAN_STD(double, double)
VANTIX_MEAN_STD(std::int8_t, double)
VANTIX_MEAN_STD(std::uint8_t, double)
VANTIX_MEAN_STD(std::int16_t, double)
VANTIX_MEAN_STD(std::uint16_t, double)
VANTIX_MEAN_STD(std::int32_t, double)
VANTIX_MEAN_STD(std::uint32_t, double)
VANTIX_MEAN_STD(std::int64_t, double)
VANTIX_MEAN_STD(std::uint64_t, double)
#undef VANTIX_MEAN_STD

}  // namespace vantix::stats
