// One dispatch point for the vector kernels.
//
// Each kernel body is written once, in a *.simd.hpp file: plain loops that
// the compiler vectorises for the instruction set at hand, and, where it
// vectorises poorly, byte vectors (vec.simd.hpp) that are 128-bit with
// SSE4.1 and 256-bit with AVX2. The bodies are compiled once per
// instruction set, each into its own namespace with a table of entry points
// (simd_<isa>.cpp, simd_target.hpp); the public kernels check their
// arguments and call through the table of the best instruction set the CPU
// runs, chosen once (simd.cpp). So the package runs on old industrial PCs
// without giving up the vector width of new ones, and needs no -march.
//
// The instruction sets, best first: avx2, sse41 (x86-64 only) and baseline
// (the compiler's default target). They are declared here and chosen in
// simd.cpp; each has a translation unit simd_<isa>.cpp. The environment
// variable VANTIX_PIXEL_ISA=<isa> allows that one alone, to test or measure
// the others; the baseline is always allowed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#define VANTIX_PIXEL_X86 1  // the avx2 and sse41 tables are built
#endif

namespace vantix::pixel {

// A whole mosaic frame, as demosaic_bgr was given it.
struct MosaicFrame {
    const std::uint8_t *src;
    std::size_t src_len;
    Packing packing;
    int bits;
    Mosaic mosaic;
    std::size_t width, height;
};

// The entry points each instruction set implements. Arguments are checked
// by the public kernels; the ranges given are parts of a frame that threads
// share.
struct Simd {
    const char *name;
    void (*unpack16)(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
                     std::uint16_t *dst, std::size_t count);
    void (*unpack8)(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
                    std::uint8_t *dst, std::size_t count);
    void (*unpack_bgr)(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
                       std::uint8_t *dst, std::size_t count);
    void (*shift8)(const std::uint8_t *src, int shift, std::uint8_t *dst, std::size_t count);
    void (*shift_bgr)(const std::uint8_t *src, int shift, std::uint8_t *dst, std::size_t count);
    void (*to_bgr8)(const std::uint8_t *src, Order order, std::uint8_t *dst, std::size_t count);
    // Output rows [row_begin, row_end) of the frame, written at their place
    // in dst; scratch holds demosaic_scratch(width) bytes.
    void (*demosaic_rows)(const MosaicFrame &frame, std::size_t row_begin, std::size_t row_end,
                          std::uint8_t *dst, std::uint8_t *scratch);
};

#ifdef VANTIX_PIXEL_X86
namespace avx2 {  // Haswell, Zen and later
extern const Simd kSimd;
}
namespace sse41 {  // Penryn, Silvermont, Jaguar and later
extern const Simd kSimd;
}
#endif
namespace baseline {
extern const Simd kSimd;
}

// Bytes of scratch that demosaic_rows needs: three rows of 8-bit samples,
// each with room for the samples of a packed group that precede the row.
constexpr std::size_t demosaic_scratch(std::size_t width) { return 3 * (width + 8); }

// The table of the best instruction set this CPU runs.
const Simd &simd();

}  // namespace vantix::pixel
