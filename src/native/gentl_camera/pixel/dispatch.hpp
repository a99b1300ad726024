// Runtime dispatch for the hot loops: a function marked VANTIX_HOT is compiled
// twice, for AVX2 and for baseline x86-64, and the loader picks the clone the
// CPU can run. The package so runs on old industrial PCs without giving up
// the vector width on new ones; no global -march is needed.
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
