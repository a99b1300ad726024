#include <cstdint>
#include <string>
#include <vector>

#include "check.hpp"
#include "sim/model/image_formula.hpp"

using namespace vantix::sim;

namespace {

// Reads sample i back from a line in `format`'s layout (reference decoder).
std::uint16_t sample_at(const PixelFormat &f, const std::uint8_t *line, std::size_t i) {
    switch (f.packing) {
        case Packing::bytes:
            return line[i];
        case Packing::words:
            return static_cast<std::uint16_t>(line[2 * i] | line[2 * i + 1] << 8);
        case Packing::lsb10:
        case Packing::lsb12: {
            std::uint16_t v = 0;
            const auto width = static_cast<std::size_t>(f.bits);
            for (std::size_t b = 0; b < width; ++b) {
                const std::size_t k = i * width + b;
                v |= static_cast<std::uint16_t>((line[k / 8] >> (k % 8) & 1) << b);
            }
            return v;
        }
        default: {
            const std::uint8_t *g = line + 3 * (i / 2);
            const int low_bits = f.bits - 8;
            const int low = (i % 2 == 0 ? g[1] : g[1] >> 4) & ((1 << low_bits) - 1);
            return static_cast<std::uint16_t>((i % 2 == 0 ? g[0] : g[2]) << low_bits | low);
        }
    }
}

// The channel (0 R, 1 G, 2 B) a Bayer format keeps at (x, y): the name
// gives the first line's colours; the second line holds the other two.
int mosaic_channel(const std::string &name, std::uint32_t x, std::uint32_t y) {
    const std::string first = name.substr(5, 2);
    const std::string second = first == "RG"   ? "GB"
                               : first == "GR" ? "BG"
                               : first == "GB" ? "RG"
                                               : "GR";
    const char at = (y % 2 == 0 ? first : second)[x % 2];
    return at == 'R' ? 0 : at == 'G' ? 1 : 2;
}

}  // namespace

TEST(ramp_values) {
    CHECK(ramp_value(0, 0, 0, 8) == 0 && ramp_value(10, 20, 3, 8) == 33 &&
          ramp_value(200, 100, 0, 8) == 44);
    CHECK(ramp_value(1, 0, 0, 12) == 17 && ramp_value(255, 0, 0, 12) == (17 * 255) % 4096);
    CHECK(ramp_value(0, 0, 4096 + 2, 12) == 34);  // the frame id counts modulo 2^N
    CHECK(ramp_value(1, 0, 0, 16) == 257 && ramp_value(2, 0, 0, 10) == 10);
}

TEST(scene_quadrants_and_moving_square) {
    const std::uint32_t w = 1920, h = 1200;
    auto lit = [&](std::uint32_t x, std::uint32_t y, std::uint64_t f) {
        const Rgb v = scene_value(x, y, f, 8, w, h);
        return (v.r >= 192) * 1 + (v.g >= 192) * 2 + (v.b >= 192) * 4;
    };
    CHECK(lit(10, 10, 500) == 1 && lit(1900, 10, 500) == 2 && lit(10, 1190, 500) == 4 &&
          lit(1900, 1190, 500) == 3);
    // the square: side 300, top 450, left edge 16 f mod w
    CHECK(lit(160, 450, 10) == 7 && lit(459, 749, 10) == 7 && lit(159, 450, 10) == 1 &&
          lit(460, 600, 10) == 4);
    CHECK(lit(176, 600, 11) == 7 && lit(175, 600, 11) == 4);
    const Rgb dark = scene_value(10, 10, 0, 12, w, h);
    CHECK(dark.r == 4095 - (ramp_value(10, 10, 0, 12) >> 2) &&
          dark.g == (ramp_value(10, 10, 0, 12) >> 2));
}

TEST(every_format_renders_the_formula) {
    Geometry g;
    g.sensor_width = 640, g.sensor_height = 480, g.width = 64, g.height = 6, g.offset_x = 300,
    g.offset_y = 236;
    FrameRenderer renderer;
    for (const PixelFormat &f : all_pixel_formats()) {
        const std::string name(f.name);
        const std::size_t line = line_bytes(f, g.width);
        std::vector<std::uint8_t> out(line * g.height + 16, 0xEE);
        for (const std::uint64_t frame : {0ull, 17ull, 70000ull}) {
            CHECK(renderer.render(f, g, frame, out.data(), out.size()) == line * g.height);
            CHECK(out[line * g.height] == 0xEE);
            bool same = true;
            for (std::uint32_t y = 0; y < g.height; ++y) {
                const std::uint8_t *row = out.data() + y * line;
                for (std::uint32_t x = 0; x < g.width; ++x) {
                    const std::uint32_t sx = g.offset_x + x, sy = g.offset_y + y;
                    const Rgb s =
                        scene_value(sx, sy, frame, f.bits, g.sensor_width, g.sensor_height);
                    const std::uint16_t rgb[3] = {s.r, s.g, s.b};
                    if (f.colour == Colour::mono) {
                        same &= sample_at(f, row, x) == ramp_value(sx, sy, frame, f.bits);
                    } else if (is_bayer(f.colour)) {
                        same &= sample_at(f, row, x) == rgb[mosaic_channel(name, x, y)];
                    } else if (f.colour == Colour::ycbcr422) {
                        same &= row[std::size_t{2} * x] ==
                                ((77 * s.r + 150 * s.g + 29 * s.b + 128) >> 8);
                    } else {
                        const bool bgr = name[0] == 'B';
                        const std::size_t at = std::size_t{x} * (name.size() == 5 ? 4 : 3);
                        same &= row[at] == rgb[bgr ? 2 : 0];
                        same &= row[at + 1] == rgb[1];
                        if (name.size() == 5) same &= row[at + 3] == 255;
                    }
                }
            }
            if (!same)
                std::fprintf(stderr, "%s frame %llu differs\n", name.c_str(),
                             static_cast<unsigned long long>(frame));
            CHECK(same);
        }
    }
}

TEST(a_short_buffer_gets_whole_lines_only) {
    Geometry g;
    g.sensor_width = g.width = 32, g.sensor_height = g.height = 8;
    FrameRenderer renderer;
    const std::size_t line = std::size_t{32} * 3;
    std::vector<std::uint8_t> out(line + 5, 0xEE);
    CHECK(renderer.render(*find_pixel_format("Mono8"), g, 0, out.data(), out.size()) == line);
    CHECK(out[line] == 0xEE);
    CHECK(renderer.render(*find_pixel_format("Mono8"), g, 0, out.data(), 10) == 0);
}
