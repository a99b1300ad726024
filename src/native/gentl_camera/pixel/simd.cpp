#include "simd.hpp"

#include <cstdlib>
#include <cstring>

namespace vantix::pixel {

const Simd &simd() {
    static const Simd &best = []() -> const Simd & {
#ifdef VANTIX_PIXEL_X86
        // VANTIX_PIXEL_ISA, when set, names the one table that may be chosen.
        const char *wanted = std::getenv("VANTIX_PIXEL_ISA");
        const auto allowed = [wanted](const Simd &table) {
            return !wanted || !*wanted || std::strcmp(wanted, table.name) == 0;
        };
        // True for AVX2 only when the OS also saves the AVX registers.
        if (__builtin_cpu_supports("avx2") && allowed(avx2::kSimd)) return avx2::kSimd;
        if (__builtin_cpu_supports("sse4.1") && allowed(sse41::kSimd)) return sse41::kSimd;
#endif
        return baseline::kSimd;
    }();
    return best;
}

}  // namespace vantix::pixel
