// The kernel bodies compiled for the compiler's default target (simd.hpp):
// plain loops, vectorised as far as the compiler can.
#include "simd_prelude.hpp"

#define VANTIX_ISA_AVX2 0
#define VANTIX_ISA_SSE41 0

namespace vantix::pixel::baseline {
constexpr const char *kIsaName = "baseline";
#include "kernels.simd.hpp"
}  // namespace vantix::pixel::baseline
