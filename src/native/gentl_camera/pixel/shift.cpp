// Depth reduction of 16-bit samples to 8 bits by a right shift. A sample
// with bits set above its nominal depth saturates at 255 instead of wrapping,
// so that a bright pixel stays bright.
#include <cstring>
#include <limits>

#include "dispatch.hpp"
#include "kernels.hpp"

namespace vantix::pixel {
namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;

VANTIX_INLINE u8 reduce(const u8 *src, std::size_t i, int shift) {
    u16 v;
    std::memcpy(&v, src + 2 * i, sizeof v);
    const unsigned r = static_cast<unsigned>(v) >> shift;
    return static_cast<u8>(r > 255 ? 255 : r);
}

VANTIX_HOT void shift_loop(const u8 *__restrict src, std::size_t count, int shift,
                           u8 *__restrict dst) {
    for (std::size_t i = 0; i < count; ++i) dst[i] = reduce(src, i, shift);
}

VANTIX_HOT void shift_bgr_loop(const u8 *__restrict src, std::size_t count, int shift,
                               u8 *__restrict dst) {
    for (std::size_t i = 0; i < count; ++i) {
        const u8 v = reduce(src, i, shift);
        dst[3 * i] = v;
        dst[3 * i + 1] = v;
        dst[3 * i + 2] = v;
    }
}

Status check(std::size_t src_len, int shift, std::size_t count) {
    if (shift < 0 || shift > 15) return Status::unsupported;
    if (count > std::numeric_limits<std::size_t>::max() / 2 || src_len < 2 * count)
        return Status::too_small;
    return Status::ok;
}

}  // namespace

Status shift8(const u8 *src, std::size_t src_len, int shift, u8 *dst, std::size_t count) {
    const Status s = check(src_len, shift, count);
    if (s == Status::ok && count) shift_loop(src, count, shift, dst);
    return s;
}

Status shift_bgr(const u8 *src, std::size_t src_len, int shift, u8 *dst, std::size_t count) {
    const Status s = check(src_len, shift, count);
    if (s == Status::ok && count) shift_bgr_loop(src, count, shift, dst);
    return s;
}

}  // namespace vantix::pixel
