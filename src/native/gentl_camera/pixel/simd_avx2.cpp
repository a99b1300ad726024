// The kernel bodies compiled for AVX2 (simd.hpp).
#include "simd_prelude.hpp"

#ifdef VANTIX_PIXEL_X86
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif
#define VANTIX_ISA_AVX2 1
#define VANTIX_ISA_SSE41 0

namespace vantix::pixel::avx2 {
constexpr const char *kIsaName = "avx2";
#include "kernels.simd.hpp"
}  // namespace vantix::pixel::avx2

#if defined(__clang__)
#pragma clang attribute pop
#endif
#endif
