// The picture a simulated camera delivers: a deterministic function of the
// pixel's sensor position and the frame id, so a consumer can compute the
// expected image independently (the README gives the formula).
//
//   X = OffsetX + x, Y = OffsetY + y                 sensor coordinates
//   ramp(X, Y, f) = (s * (X + Y + f)) mod 2^N         s = 1 for N = 8, else 2^(N-8) + 1
//
// Mono formats deliver ramp. Colour cameras look at a scene of four
// saturated quadrants of the sensor (red top left, green top right, blue
// bottom left, yellow bottom right) with a white square of side H/4 whose
// top is at (H - H/4) / 2 and whose left edge is at (16 f) mod W, W and H
// being the sensor size. A colour channel that is lit there has the value
// 2^N - 1 - t, an unlit one t, with t = ramp >> 2. Bayer formats keep at
// (x, y) the channel their mosaic puts at (x mod 2, y mod 2); RGB-type
// formats keep all three (alpha 255); YCbCr422_8 is computed from the 8-bit
// scene with integer BT.601 weights, chroma from the even pixel of each pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pixel_formats.hpp"

namespace vantix::sim {

struct Geometry {
    std::uint32_t sensor_width = 0, sensor_height = 0;
    std::uint32_t width = 0, height = 0, offset_x = 0, offset_y = 0;
};

// The three colour channels of the scene at one point, for N-bit samples.
struct Rgb {
    std::uint16_t r, g, b;
};
std::uint16_t ramp_value(std::uint32_t x, std::uint32_t y, std::uint64_t frame, int bits);
Rgb scene_value(std::uint32_t x, std::uint32_t y, std::uint64_t frame, int bits,
                std::uint32_t sensor_width, std::uint32_t sensor_height);

// Renders frames line by line, keeping the tables and the line buffer
// between frames so a stream allocates nothing per frame.
class FrameRenderer {
public:
    // Writes whole lines of the frame to `out` while they fit in
    // `capacity` bytes; returns the bytes written. The geometry must be
    // consistent (window inside the sensor, width a multiple of the
    // format's width step).
    std::size_t render(const PixelFormat &format, const Geometry &g, std::uint64_t frame,
                       std::uint8_t *out, std::size_t capacity);

private:
    const std::uint16_t *ramp_line(std::uint32_t y, const Geometry &g, std::uint64_t frame,
                                   int bits);
    void colour_line(const PixelFormat &format, std::uint32_t y, const Geometry &g,
                     std::uint64_t frame, std::uint8_t *out);

    int table_bits_ = 0;
    std::vector<std::uint16_t> table_;  // (s * k) mod 2^N for k up to 2^N + width
    std::vector<std::uint8_t> table8_;  // the same for N = 8, as bytes
    std::vector<std::uint16_t> line_;   // samples of one line before packing
};

}  // namespace vantix::sim
