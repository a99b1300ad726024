// demosaic_bgr against a reference written from its definition, over sizes
// around the vector width and every mosaic and sample form, with inputs and
// outputs of their exact size so that the sanitizer catches any access past
// either. (The Python tests hold it against OpenCV itself.)
#include <cstdint>
#include <cstring>
#include <vector>

#include "check.hpp"
#include "gentl_camera/pixel/kernels.hpp"
#include "pool_in_use.hpp"

namespace demosaic_test {

using namespace vantix::pixel;
using Bytes = std::vector<std::uint8_t>;

Bytes noise(std::size_t n, std::uint32_t seed) {
    Bytes v(n);
    for (auto &b : v) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return v;
}

enum Colour { blue, green, red };

Colour colour_at(Mosaic m, std::size_t y, std::size_t x) {
    // The first row of each mosaic, then the second.
    static const Colour rows[4][2][2] = {{{red, green}, {green, blue}},
                                         {{green, red}, {blue, green}},
                                         {{green, blue}, {red, green}},
                                         {{blue, green}, {green, red}}};
    return rows[static_cast<int>(m)][y % 2][x % 2];
}

// Each inner pixel: its own sample, and for each other colour the mean of
// the nearest samples of it among its eight neighbours, rounded half up.
// Outermost rows and columns repeat their inner neighbours.
Bytes reference(const Bytes &mosaic, Mosaic m, std::size_t w, std::size_t h) {
    Bytes out(3 * w * h, 0);
    if (w < 3 || h < 3) return out;
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t cy = y < 1 ? 1 : y > h - 2 ? h - 2 : y;
            const std::size_t cx = x < 1 ? 1 : x > w - 2 ? w - 2 : x;
            const Colour own = colour_at(m, cy, cx);
            for (std::size_t c = 0; c < 3; ++c) {
                unsigned value;
                if (c == static_cast<std::size_t>(own)) {
                    value = mosaic[cy * w + cx];
                } else {
                    // Nearest first: the four beside, then the four diagonal.
                    unsigned sum = 0, n = 0;
                    for (int ring = 0; ring < 2 && n == 0; ++ring)
                        for (std::size_t ny = cy - 1; ny <= cy + 1; ++ny)
                            for (std::size_t nx = cx - 1; nx <= cx + 1; ++nx) {
                                const bool diagonal = ny != cy && nx != cx;
                                if ((ny == cy && nx == cx) || diagonal != (ring == 1)) continue;
                                if (static_cast<std::size_t>(colour_at(m, ny, nx)) != c) continue;
                                sum += mosaic[ny * w + nx];
                                ++n;
                            }
                    value = (sum + n / 2) / n;
                }
                out[3 * (y * w + x) + c] = static_cast<std::uint8_t>(value);
            }
        }
    return out;
}

const Mosaic kMosaics[] = {Mosaic::rg, Mosaic::gr, Mosaic::gb, Mosaic::bg};

struct Form {
    Packing packing;
    int bits;
};
const Form kForms[] = {{Packing::none, 8},     {Packing::none, 12},   {Packing::none, 16},
                       {Packing::lsb, 10},     {Packing::lsb, 12},    {Packing::lsb, 14},
                       {Packing::grouped, 10}, {Packing::grouped, 12}};

std::size_t bytes_of(const Form &f, std::size_t pixels) {
    std::size_t n = 0;
    if (f.packing == Packing::none) return f.bits == 8 ? pixels : 2 * pixels;
    packed_size(f.packing, f.bits, pixels, n);
    return n;
}

// The 8-bit mosaic the kernel is to demosaic, from the other kernels.
Bytes eight_bit(const Bytes &src, const Form &f, std::size_t pixels) {
    Bytes m(pixels);
    if (f.packing != Packing::none)
        unpack8(src.data(), src.size(), f.packing, f.bits, m.data(), pixels);
    else if (f.bits > 8)
        shift8(src.data(), src.size(), f.bits - 8, m.data(), pixels);
    else
        m = src;
    return m;
}

bool matches(const Form &f, Mosaic m, std::size_t w, std::size_t h, std::uint32_t seed) {
    const Bytes src = noise(bytes_of(f, w * h), seed);
    Bytes out(3 * w * h);
    if (demosaic_bgr(src.data(), src.size(), f.packing, f.bits, m, w, h, out.data()) != Status::ok)
        return false;
    return out == reference(eight_bit(src, f, w * h), m, w, h);
}

}  // namespace demosaic_test

TEST(demosaic_matches_the_definition_at_every_size) {
    using namespace demosaic_test;
    const std::size_t widths[] = {1, 2, 3, 4, 5, 6, 7, 8, 33, 34, 35, 36, 65, 66, 67, 100};
    for (const Form &f : kForms)
        for (Mosaic m : kMosaics)
            for (std::size_t w : widths)
                for (std::size_t h = 1; h <= 6; ++h)
                    CHECK(matches(f, m, w, h, unsigned(w * 7 + h)));
}

TEST(demosaic_of_a_frame_shared_among_threads) {
    using namespace demosaic_test;
    PoolInUse pool(4);
    for (Mosaic m : kMosaics) CHECK(matches({Packing::lsb, 12}, m, 1031, 523, 5));
    CHECK(matches({Packing::none, 12}, Mosaic::gb, 1030, 524, 6));
}

TEST(demosaic_refuses_what_it_cannot_read) {
    using namespace demosaic_test;
    Bytes src(64), out(std::size_t{3} * 64);
    const auto run = [&](Packing p, int bits, std::size_t len, std::size_t w, std::size_t h) {
        return demosaic_bgr(src.data(), len, p, bits, Mosaic::rg, w, h, out.data());
    };
    CHECK(run(Packing::none, 7, 64, 8, 8) == Status::unsupported);
    CHECK(run(Packing::none, 17, 64, 4, 4) == Status::unsupported);
    CHECK(run(Packing::lsb, 16, 64, 4, 4) == Status::unsupported);
    CHECK(run(Packing::none, 8, 63, 8, 8) == Status::too_small);
    CHECK(run(Packing::none, 12, 63, 4, 8) == Status::too_small);
    CHECK(run(Packing::lsb, 12, 23, 4, 4) == Status::too_small);
    const std::size_t huge = std::size_t(1) << 40;
    CHECK(run(Packing::none, 8, 64, huge, huge) == Status::too_small);
    CHECK(run(Packing::none, 8, 0, 0, 5) == Status::ok);
}
