// The kernel bodies of one instruction set and its table of entry points.
// No include guard: simd_target.hpp includes this inside its namespace, with
// VANTIX_ISA_<isa> saying which vector operations may be used. The entry
// points take the names of the public kernels they serve, whose argument
// checks they rely on.
#define VANTIX_VEC (VANTIX_ISA_AVX2 || VANTIX_ISA_SSE41)

using u8 = std::uint8_t;
using u16 = std::uint16_t;

#include "vec.simd.hpp"
#include "expand.simd.hpp"
#include "shift.simd.hpp"
#include "unpack.simd.hpp"
#include "colour.simd.hpp"
#include "demosaic.simd.hpp"

const Simd kSimd = {kIsaName, unpack16,  unpack8, unpack_bgr,
                    shift8,   shift_bgr, to_bgr8, demosaic_rows};

#undef VANTIX_VEC
