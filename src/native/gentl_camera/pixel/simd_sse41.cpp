// The kernel bodies compiled for SSE4.1, which includes SSSE3 (simd.hpp).
#include "simd_prelude.hpp"

#ifdef VANTIX_PIXEL_X86
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse4.1"))), apply_to = function)
#else
#pragma GCC target("sse4.1")
#endif
#define VANTIX_ISA_AVX2 0
#define VANTIX_ISA_SSE41 1

namespace vantix::pixel::sse41 {
constexpr const char *kIsaName = "sse41";
#include "kernels.simd.hpp"
}  // namespace vantix::pixel::sse41

#if defined(__clang__)
#pragma clang attribute pop
#endif
#endif
