// The kernel bodies compiled for the compiler's default target (simd.hpp).
#include "simd_prelude.hpp"

#define VANTIX_ISA_AVX2 0

namespace vantix::pixel::baseline {
constexpr const char *kIsaName = "baseline";
#include "kernels.simd.hpp"
}  // namespace vantix::pixel::baseline
