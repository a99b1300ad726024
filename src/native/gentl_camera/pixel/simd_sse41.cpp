// The kernel bodies compiled for SSE4.1, which includes SSSE3 (simd.hpp).
#include "simd.hpp"

#ifdef VANTIX_PIXEL_X86
#define VANTIX_ISA sse41
#define VANTIX_ISA_TARGET "sse4.1"
#define VANTIX_ISA_AVX2 0
#define VANTIX_ISA_SSE41 1
#include "simd_target.hpp"
#endif
