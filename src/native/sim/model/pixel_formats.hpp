// The pixel formats the simulated cameras deliver: PFNC name and code, how a
// pixel's samples are laid out in memory, and the size of a line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vantix::sim {

// How the samples of one line are stored.
enum class Packing {
    bytes,      // one byte per sample
    words,      // one little-endian 16-bit word per sample, value in the low bits
    lsb10,      // "p": continuous LSB-first bit stream, 4 samples in 5 bytes
    lsb12,      // "p": 2 samples in 3 bytes
    grouped10,  // "Packed": 2 samples in 3 bytes, high bits first, low bits shared
    grouped12,
};

// What a pixel holds.
enum class Colour {
    mono,      // one grey sample
    bayer_rg,  // one sample of a colour filter mosaic; the name gives the
    bayer_gr,  // colours of the first two pixels of the first line
    bayer_gb,
    bayer_bg,
    rgb,  // R, G, B
    bgr,
    rgba,  // R, G, B, alpha
    bgra,
    ycbcr422,  // Y0 Cb Y1 Cr per pair of pixels
};

struct PixelFormat {
    std::string_view name;
    std::uint32_t code;  // PFNC 32-bit
    Colour colour;
    int bits;  // significant bits per sample
    Packing packing;
};

const std::vector<PixelFormat> &all_pixel_formats();
const PixelFormat *find_pixel_format(std::string_view name);
const PixelFormat *find_pixel_format(std::uint32_t code);

// Samples stored per pixel (3 for RGB, 4 with alpha, 2 for YCbCr 4:2:2).
int samples_per_pixel(const PixelFormat &format);
// Bytes of one line of `width` pixels; `width` must end the line on a whole
// packing group (a multiple of 4 serves every format).
std::size_t line_bytes(const PixelFormat &format, std::size_t width);

inline bool is_bayer(Colour c) {
    return c == Colour::bayer_rg || c == Colour::bayer_gr || c == Colour::bayer_gb ||
           c == Colour::bayer_bg;
}

}  // namespace vantix::sim
