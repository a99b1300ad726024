// Bilinear demosaic of a whole frame: sizes checked here, rows shared among
// threads, the arithmetic in demosaic.simd.hpp.
#include <limits>
#include <vector>

#include "kernels.hpp"
#include "parallel.hpp"
#include "simd.hpp"

namespace vantix::pixel {
namespace {

// Bytes that `pixels` samples take in the given form; false when the form is
// not one demosaic_bgr reads or the size does not fit in size_t.
bool mosaic_size(Packing packing, int bits, std::size_t pixels, std::size_t &bytes) {
    if (packing != Packing::none) return packed_size(packing, bits, pixels, bytes);
    if (bits < 8 || bits > 16) return false;
    const std::size_t per_sample = bits == 8 ? 1 : 2;
    if (pixels > std::numeric_limits<std::size_t>::max() / per_sample) return false;
    bytes = pixels * per_sample;
    return true;
}

}  // namespace

Status demosaic_bgr(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
                    Mosaic mosaic, std::size_t width, std::size_t height, std::uint8_t *dst) {
    if (packing != Packing::none ? !can_unpack(packing, bits) : bits < 8 || bits > 16)
        return Status::unsupported;
    std::size_t pixels = 0, need = 0;
    if (__builtin_mul_overflow(width, height, &pixels) ||
        pixels > std::numeric_limits<std::size_t>::max() / 3 ||
        !mosaic_size(packing, bits, pixels, need) || src_len < need)
        return Status::too_small;
    if (pixels == 0) return Status::ok;
    const MosaicFrame frame{src, src_len, packing, bits, mosaic, width, height};
    const std::size_t scratch_bytes = demosaic_scratch(width);
    // One scratch row set per thread, for as many as may join: the count
    // can change before the frame is shared, so the same number caps it.
    const std::size_t workers = workers_for(height, 1, 3 * width);
    std::vector<std::uint8_t> scratch(workers * scratch_bytes);
    const auto rows = [&](std::size_t worker, std::size_t first, std::size_t end) {
        simd().demosaic_rows(frame, first, end, dst, scratch.data() + worker * scratch_bytes);
    };
    parallel_parts(height, 1, 3 * width, rows, workers);
    return Status::ok;
}

}  // namespace vantix::pixel
