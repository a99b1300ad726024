// Compiles the kernel bodies for one instruction set, into namespace
// vantix::pixel::<VANTIX_ISA> with its table kSimd. The including file,
// simd_<isa>.cpp, defines VANTIX_ISA, VANTIX_ISA_TARGET (the compiler's
// name for the set; empty for the default target) and VANTIX_ISA_AVX2 and
// VANTIX_ISA_SSE41 (1 or 0, the vectors the bodies may use). No include
// guard.
#include "simd_prelude.hpp"

#define VANTIX_STRING2(x) #x
#define VANTIX_STRING(x) VANTIX_STRING2(x)

#if defined(__clang__)
#define VANTIX_TARGET_BEGIN(t) \
    _Pragma(VANTIX_STRING(clang attribute push(__attribute__((target(t))), apply_to = function)))
#define VANTIX_TARGET_END _Pragma("clang attribute pop")
#else
#define VANTIX_TARGET_BEGIN(t) _Pragma("GCC push_options") _Pragma(VANTIX_STRING(GCC target(t)))
#define VANTIX_TARGET_END _Pragma("GCC pop_options")
#endif

#if VANTIX_ISA_AVX2 || VANTIX_ISA_SSE41
VANTIX_TARGET_BEGIN(VANTIX_ISA_TARGET)
#endif

namespace vantix::pixel::VANTIX_ISA {
constexpr const char *kIsaName = VANTIX_STRING(VANTIX_ISA);
#include "kernels.simd.hpp"
}  // namespace vantix::pixel::VANTIX_ISA

#if VANTIX_ISA_AVX2 || VANTIX_ISA_SSE41
VANTIX_TARGET_END
#endif
