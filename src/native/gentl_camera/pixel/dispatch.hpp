// Runtime dispatch for the hot loops, so that the package runs on old
// industrial PCs without giving up the vector width of new ones; no global
// -march is needed.
//
// - VANTIX_HOT compiles a plain loop twice, for AVX2 and for baseline
//   x86-64, and the loader picks the clone the CPU can run.
// - Where the compiler's own vectorisation is poor, an explicitly written
//   AVX2 version (VANTIX_AVX2_PATH) is chosen at run time by has_avx2().
#pragma once

// Defining VANTIX_HOT (e.g. empty) on the command line builds one version.
#if !defined(VANTIX_HOT) && defined(__x86_64__) && defined(__ELF__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define VANTIX_HOT __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef VANTIX_HOT
#define VANTIX_HOT
#endif

#if defined(__GNUC__)
#define VANTIX_INLINE inline __attribute__((always_inline))
#else
#define VANTIX_INLINE inline
#endif

#if defined(__x86_64__) && defined(__GNUC__) && !defined(VANTIX_NO_AVX2_PATH)
#define VANTIX_AVX2_PATH 1
#include <immintrin.h>

namespace vantix::pixel::detail {
// The CPU runs AVX2 and the OS saves its registers.
inline bool has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
}  // namespace vantix::pixel::detail
#endif
