#include "image_formula.hpp"

#include <algorithm>
#include <cstring>

#include "packing.hpp"

namespace vantix::sim {

namespace {

constexpr unsigned kRed = 1, kGreen = 2, kBlue = 4;
// Quadrant colours: top left, top right, bottom left, bottom right.
constexpr unsigned kQuadrants[4] = {kRed, kGreen, kBlue, kRed | kGreen};

std::uint32_t step_of(int bits) { return bits == 8 ? 1u : (1u << (bits - 8)) + 1u; }

std::uint32_t mod_frame(std::uint64_t frame, std::uint32_t modulus) {
    return static_cast<std::uint32_t>(frame % modulus);
}

// Channels lit at sensor point (x, y), as a mask of kRed, kGreen, kBlue.
struct SceneLine {
    unsigned left, right;                            // quadrant colours of this line
    std::uint32_t half;                              // first column of the right quadrants
    std::uint32_t square_begin = 0, square_end = 0;  // white columns, if any

    SceneLine(std::uint32_t y, std::uint64_t frame, std::uint32_t w, std::uint32_t h) {
        const unsigned bottom = y >= h / 2 ? 2 : 0;
        left = kQuadrants[bottom];
        right = kQuadrants[bottom + 1];
        half = w / 2;
        const std::uint32_t side = h / 4, top = (h - side) / 2;
        if (y >= top && y < top + side) {
            square_begin = static_cast<std::uint32_t>((16ull * mod_frame(frame, w)) % w);
            square_end = square_begin + side;
        }
    }
    unsigned at(std::uint32_t x) const {
        if (x >= square_begin && x < square_end) return kRed | kGreen | kBlue;
        return x < half ? left : right;
    }
};

std::uint16_t channel(unsigned lit, unsigned which, std::uint16_t t, int bits) {
    return (lit & which) ? static_cast<std::uint16_t>(((1u << bits) - 1u) - t) : t;
}

// Colour of mosaic position (x mod 2, y mod 2), index y * 2 + x.
const unsigned *mosaic(Colour c) {
    static const unsigned rg[4] = {kRed, kGreen, kGreen, kBlue};
    static const unsigned gr[4] = {kGreen, kRed, kBlue, kGreen};
    static const unsigned gb[4] = {kGreen, kBlue, kRed, kGreen};
    static const unsigned bg[4] = {kBlue, kGreen, kGreen, kRed};
    switch (c) {
        case Colour::bayer_rg:
            return rg;
        case Colour::bayer_gr:
            return gr;
        case Colour::bayer_gb:
            return gb;
        default:
            return bg;
    }
}

// Integer BT.601 luma and chroma of 8-bit RGB; the shifts floor.
std::uint8_t luma(int r, int g, int b) {
    return static_cast<std::uint8_t>((77 * r + 150 * g + 29 * b + 128) >> 8);
}
std::uint8_t chroma_b(int r, int g, int b) {
    return static_cast<std::uint8_t>(((-43 * r - 85 * g + 128 * b + 128) >> 8) + 128);
}
std::uint8_t chroma_r(int r, int g, int b) {
    return static_cast<std::uint8_t>(((128 * r - 107 * g - 21 * b + 128) >> 8) + 128);
}

}  // namespace

std::uint16_t ramp_value(std::uint32_t x, std::uint32_t y, std::uint64_t frame, int bits) {
    const std::uint32_t modulus = 1u << bits;
    const std::uint64_t k = (std::uint64_t(x) + y + mod_frame(frame, modulus)) % modulus;
    return static_cast<std::uint16_t>((step_of(bits) * k) % modulus);
}

Rgb scene_value(std::uint32_t x, std::uint32_t y, std::uint64_t frame, int bits,
                std::uint32_t sensor_width, std::uint32_t sensor_height) {
    const unsigned lit = SceneLine(y, frame, sensor_width, sensor_height).at(x);
    const auto t = static_cast<std::uint16_t>(ramp_value(x, y, frame, bits) >> 2);
    return {channel(lit, kRed, t, bits), channel(lit, kGreen, t, bits),
            channel(lit, kBlue, t, bits)};
}

const std::uint16_t *FrameRenderer::ramp_line(std::uint32_t y, const Geometry &g,
                                              std::uint64_t frame, int bits) {
    const std::uint32_t modulus = 1u << bits;
    const std::size_t length = modulus + std::size_t(g.width);
    if (table_bits_ != bits || table_.size() < length) {
        table_.resize(length);
        const std::uint32_t s = step_of(bits);
        for (std::size_t k = 0; k < length; ++k)
            table_[k] = static_cast<std::uint16_t>((s * (k % modulus)) % modulus);
        table8_.assign(table_.begin(), table_.end());  // used when N = 8
        table_bits_ = bits;
    }
    const std::uint32_t start = static_cast<std::uint32_t>(
        (std::uint64_t(g.offset_x) + g.offset_y + y + mod_frame(frame, modulus)) % modulus);
    return table_.data() + start;
}

void FrameRenderer::colour_line(const PixelFormat &format, std::uint32_t y, const Geometry &g,
                                std::uint64_t frame, std::uint8_t *out) {
    const int bits = format.bits;
    const std::uint16_t *ramp = ramp_line(y, g, frame, bits);
    const SceneLine scene(g.offset_y + y, frame, g.sensor_width, g.sensor_height);
    const std::size_t n = g.width;
    const int spp = samples_per_pixel(format);
    line_.resize(n * static_cast<std::size_t>(spp));
    std::uint16_t *s = line_.data();
    if (is_bayer(format.colour)) {
        const unsigned *row = mosaic(format.colour) + std::size_t{2} * (y & 1u);
        for (std::size_t x = 0; x < n; ++x) {
            const unsigned lit = scene.at(g.offset_x + static_cast<std::uint32_t>(x));
            s[x] = channel(lit, row[x & 1u], static_cast<std::uint16_t>(ramp[x] >> 2), bits);
        }
    } else if (format.colour == Colour::ycbcr422) {
        int r0 = 0, g0 = 0, b0 = 0;
        for (std::size_t x = 0; x < n; ++x) {
            const unsigned lit = scene.at(g.offset_x + static_cast<std::uint32_t>(x));
            const auto t = static_cast<std::uint16_t>(ramp[x] >> 2);
            const int r = channel(lit, kRed, t, 8), gg = channel(lit, kGreen, t, 8),
                      b = channel(lit, kBlue, t, 8);
            if ((x & 1u) == 0) {
                r0 = r, g0 = gg, b0 = b;
                s[2 * x + 1] = chroma_b(r0, g0, b0);
            } else {
                s[2 * x + 1] = chroma_r(r0, g0, b0);
            }
            s[2 * x] = luma(r, gg, b);
        }
    } else {
        const bool bgr = format.colour == Colour::bgr || format.colour == Colour::bgra;
        const unsigned first = bgr ? kBlue : kRed, last = bgr ? kRed : kBlue;
        for (std::size_t x = 0; x < n; ++x) {
            const unsigned lit = scene.at(g.offset_x + static_cast<std::uint32_t>(x));
            const auto t = static_cast<std::uint16_t>(ramp[x] >> 2);
            std::uint16_t *px = s + x * static_cast<std::size_t>(spp);
            px[0] = channel(lit, first, t, bits);
            px[1] = channel(lit, kGreen, t, bits);
            px[2] = channel(lit, last, t, bits);
            if (spp == 4) px[3] = 255;
        }
    }
    pack_samples(format.packing, s, line_.size(), out);
}

std::size_t FrameRenderer::render(const PixelFormat &format, const Geometry &g, std::uint64_t frame,
                                  std::uint8_t *out, std::size_t capacity) {
    const std::size_t line = line_bytes(format, g.width);
    if (line == 0) return 0;
    const std::size_t lines = std::min<std::size_t>(g.height, capacity / line);
    for (std::uint32_t y = 0; y < lines; ++y, out += line) {
        if (format.colour != Colour::mono) {
            colour_line(format, y, g, frame, out);
        } else if (format.packing == Packing::bytes) {
            const std::size_t start =
                static_cast<std::size_t>(ramp_line(y, g, frame, 8) - table_.data());
            std::memcpy(out, table8_.data() + start, line);
        } else {
            pack_samples(format.packing, ramp_line(y, g, frame, format.bits), g.width, out);
        }
    }
    return lines * line;
}

}  // namespace vantix::sim
