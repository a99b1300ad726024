// Packed samples: the layouts are in layouts.hpp, the loops in
// unpack.simd.hpp; this file checks sizes and shares frames among threads.
#include "kernels.hpp"
#include "parallel.hpp"
#include "simd.hpp"

namespace vantix::pixel {
namespace {

// Parts of a frame start on a multiple of this many samples: whole groups of
// every layout, which start on a byte.
constexpr std::size_t kGrain = 64;

bool covers(Packing packing, int bits, std::size_t src_len, std::size_t count) {
    std::size_t need = 0;
    return packed_size(packing, bits, count, need) && src_len >= need;
}

// Byte offset of sample `first`, a multiple of kGrain.
std::size_t offset_of(Packing packing, int bits, std::size_t first) {
    std::size_t offset = 0;
    packed_size(packing, bits, first, offset);
    return offset;
}

// Checks that src holds `count` packed samples, then calls
// convert(part_src, part_len, first, n) for parts of the frame, threads
// sharing them; each part writes out_bytes per sample.
template <class Convert>
Status in_parts(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
                std::size_t count, std::size_t out_bytes, const Convert &convert) {
    if (!can_unpack(packing, bits)) return Status::unsupported;
    if (!covers(packing, bits, src_len, count)) return Status::too_small;
    parallel_parts(count, kGrain, out_bytes, [&](std::size_t, std::size_t begin, std::size_t end) {
        const std::size_t offset = offset_of(packing, bits, begin);
        convert(src + offset, src_len - offset, begin, end - begin);
    });
    return Status::ok;
}

// The table's unpacking `entry` over the frame's parts; `per_sample` output
// values per sample.
template <class Out, class Entry>
Status unpack_with(Entry entry, const std::uint8_t *src, std::size_t src_len, Packing packing,
                   int bits, Out *dst, std::size_t count, std::size_t per_sample) {
    return in_parts(
        src, src_len, packing, bits, count, per_sample * sizeof(Out),
        [&](const std::uint8_t *part, std::size_t len, std::size_t first, std::size_t n) {
            (simd().*entry)(part, len, packing, bits, dst + per_sample * first, n);
        });
}

}  // namespace

Status unpack16(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
                std::uint16_t *dst, std::size_t count) {
    return unpack_with(&Simd::unpack16, src, src_len, packing, bits, dst, count, 1);
}

Status unpack8(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
               std::uint8_t *dst, std::size_t count) {
    return unpack_with(&Simd::unpack8, src, src_len, packing, bits, dst, count, 1);
}

Status unpack_bgr(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
                  std::uint8_t *dst, std::size_t count) {
    return unpack_with(&Simd::unpack_bgr, src, src_len, packing, bits, dst, count, 3);
}

}  // namespace vantix::pixel
