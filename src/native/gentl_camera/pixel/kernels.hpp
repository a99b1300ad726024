// Pure pixel kernels: packed-sample unpacking, depth reduction, the copies
// into interleaved 8-bit BGR and demosaicing. No Python types; every
// function is given the length of its input and refuses (Status::too_small)
// rather than read past it. Output buffers are the caller's and must hold
// what the function says. Large frames are shared among the threads of the
// process's pool (parallel.hpp); the result does not depend on how.
//
// 16-bit samples are read in host byte order from any alignment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantix::pixel {

enum class Packing {
    none,    // one sample per byte (8-bit) or per 16-bit word
    lsb,     // "p": a continuous LSB-first bit stream, no padding
    grouped  // "Packed": 2 samples in 3 bytes, high bits in bytes 0 and 2
};

enum class Status { ok, unsupported, too_small };

// True when there is an unpacker for this packing and depth:
// lsb 10/12/14 bits, grouped 10/12 bits.
bool can_unpack(Packing packing, int bits);

// Bytes that `count` packed samples occupy; false when the packing is not
// supported or the size does not fit in size_t.
bool packed_size(Packing packing, int bits, std::size_t count, std::size_t &bytes);

// Packed bytes to `count` 16-bit samples.
Status unpack16(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
                std::uint16_t *dst, std::size_t count);

// Packed bytes to the top 8 bits of `count` samples (sample >> (bits - 8)).
Status unpack8(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
               std::uint8_t *dst, std::size_t count);

// As unpack8, each value written three times: dst holds 3 * count bytes.
Status unpack_bgr(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
                  std::uint8_t *dst, std::size_t count);

// 16-bit samples (2 * count bytes of src) to min(sample >> shift, 255);
// shift in 0..15.
Status shift8(const std::uint8_t *src, std::size_t src_len, int shift, std::uint8_t *dst,
              std::size_t count);

// As shift8, each value written three times: dst holds 3 * count bytes.
Status shift_bgr(const std::uint8_t *src, std::size_t src_len, int shift, std::uint8_t *dst,
                 std::size_t count);

// Channel order of an interleaved 8-bit source.
enum class Order { grey, rgb, bgr, rgba, bgra };

// `count` pixels of 8-bit samples in the given order to BGR (3 * count bytes).
Status to_bgr8(const std::uint8_t *src, std::size_t src_len, Order order, std::uint8_t *dst,
               std::size_t count);

// Colour filter mosaics, named after their first row (PFNC spelling: rg is
// BayerRG, red at the top-left pixel).
enum class Mosaic { rg, gr, gb, bg };

// Bilinear demosaic of a width x height mosaic to BGR (3 * width * height
// bytes of dst) at 8 bits, the samples reduced as unpack8 (packed) or shift8
// (Packing::none, 9..16 bits in 16-bit words) reduce them, or taken as they
// are (Packing::none, 8 bits). Each inner pixel keeps its own sample and takes the mean of its
// nearest neighbours of each other colour: the two of a green pixel's row or
// column, the four beside (green) or diagonal to (red, blue) the others,
// rounded half up. The outermost rows and columns repeat their inner
// neighbours; a mosaic narrower or lower than 3 pixels is black. This is
// OpenCV's COLOR_Bayer..2BGR to the bit.
Status demosaic_bgr(const std::uint8_t *src, std::size_t src_len, Packing packing, int bits,
                    Mosaic mosaic, std::size_t width, std::size_t height, std::uint8_t *dst);

}  // namespace vantix::pixel
