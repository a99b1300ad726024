// The kernel bodies compiled for the compiler's default target (simd.hpp):
// plain loops, vectorised as far as the compiler can.
#define VANTIX_ISA baseline
#define VANTIX_ISA_AVX2 0
#define VANTIX_ISA_SSE41 0
#include "simd_target.hpp"
