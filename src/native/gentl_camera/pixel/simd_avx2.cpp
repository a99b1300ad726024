// The kernel bodies compiled for AVX2 (simd.hpp).
#include "simd.hpp"

#ifdef VANTIX_PIXEL_X86
#define VANTIX_ISA avx2
#define VANTIX_ISA_TARGET "avx2"
#define VANTIX_ISA_AVX2 1
#define VANTIX_ISA_SSE41 0
#include "simd_target.hpp"
#endif
