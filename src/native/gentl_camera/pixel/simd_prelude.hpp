// Everything the kernel bodies use, included before simd_target.hpp chooses
// an instruction set: library code is then compiled for the baseline only,
// so that the one copy of each inline library function the linker keeps
// runs on every CPU.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd.hpp"

#ifdef VANTIX_PIXEL_X86
#include <immintrin.h>
#endif

#include "kernels.hpp"
#include "layouts.hpp"
