#include "pixel_formats.hpp"

namespace vantix::sim {

namespace {

std::vector<PixelFormat> make_table() {
    using C = Colour;
    using P = Packing;
    std::vector<PixelFormat> t = {
        {"Mono8", 0x01080001, C::mono, 8, P::bytes},
        {"Mono10", 0x01100003, C::mono, 10, P::words},
        {"Mono12", 0x01100005, C::mono, 12, P::words},
        {"Mono16", 0x01100007, C::mono, 16, P::words},
        {"Mono10p", 0x010A0046, C::mono, 10, P::lsb10},
        {"Mono12p", 0x010C0047, C::mono, 12, P::lsb12},
        {"Mono10Packed", 0x010C0004, C::mono, 10, P::grouped10},
        {"Mono12Packed", 0x010C0006, C::mono, 12, P::grouped12},
        {"RGB8", 0x02180014, C::rgb, 8, P::bytes},
        {"BGR8", 0x02180015, C::bgr, 8, P::bytes},
        {"RGBa8", 0x02200016, C::rgba, 8, P::bytes},
        {"BGRa8", 0x02200017, C::bgra, 8, P::bytes},
        {"YCbCr422_8", 0x0210003B, C::ycbcr422, 8, P::bytes},
    };
    // Bayer mosaics: {name, colour, codes of 8, 10, 12, 10p, 12p, 10Packed, 12Packed}.
    struct Mosaic {
        const char *names[7];
        Colour colour;
        std::uint32_t codes[7];
    };
    static const Mosaic mosaics[] = {
        {{"BayerRG8", "BayerRG10", "BayerRG12", "BayerRG10p", "BayerRG12p", "BayerRG10Packed",
          "BayerRG12Packed"},
         C::bayer_rg,
         {0x01080009, 0x0110000D, 0x01100011, 0x010A0058, 0x010C0059, 0x010C0027, 0x010C002B}},
        {{"BayerGR8", "BayerGR10", "BayerGR12", "BayerGR10p", "BayerGR12p", "BayerGR10Packed",
          "BayerGR12Packed"},
         C::bayer_gr,
         {0x01080008, 0x0110000C, 0x01100010, 0x010A0056, 0x010C0057, 0x010C0026, 0x010C002A}},
        {{"BayerGB8", "BayerGB10", "BayerGB12", "BayerGB10p", "BayerGB12p", "BayerGB10Packed",
          "BayerGB12Packed"},
         C::bayer_gb,
         {0x0108000A, 0x0110000E, 0x01100012, 0x010A0054, 0x010C0055, 0x010C0028, 0x010C002C}},
        {{"BayerBG8", "BayerBG10", "BayerBG12", "BayerBG10p", "BayerBG12p", "BayerBG10Packed",
          "BayerBG12Packed"},
         C::bayer_bg,
         {0x0108000B, 0x0110000F, 0x01100013, 0x010A0052, 0x010C0053, 0x010C0029, 0x010C002D}},
    };
    static const int bits[7] = {8, 10, 12, 10, 12, 10, 12};
    static const Packing packings[7] = {P::bytes, P::words,     P::words,    P::lsb10,
                                        P::lsb12, P::grouped10, P::grouped12};
    for (const Mosaic &m : mosaics)
        for (int i = 0; i < 7; ++i)
            t.push_back({m.names[i], m.codes[i], m.colour, bits[i], packings[i]});
    return t;
}

}  // namespace

const std::vector<PixelFormat> &all_pixel_formats() {
    static const std::vector<PixelFormat> table = make_table();
    return table;
}

const PixelFormat *find_pixel_format(std::string_view name) {
    for (const PixelFormat &f : all_pixel_formats())
        if (f.name == name) return &f;
    return nullptr;
}

const PixelFormat *find_pixel_format(std::uint32_t code) {
    for (const PixelFormat &f : all_pixel_formats())
        if (f.code == code) return &f;
    return nullptr;
}

int samples_per_pixel(const PixelFormat &format) {
    switch (format.colour) {
        case Colour::rgb:
        case Colour::bgr:
            return 3;
        case Colour::rgba:
        case Colour::bgra:
            return 4;
        case Colour::ycbcr422:
            return 2;
        default:
            return 1;
    }
}

std::size_t line_bytes(const PixelFormat &format, std::size_t width) {
    const std::size_t samples = width * static_cast<std::size_t>(samples_per_pixel(format));
    switch (format.packing) {
        case Packing::bytes:
            return samples;
        case Packing::words:
            return samples * 2;
        case Packing::lsb10:
            return samples * 5 / 4;
        case Packing::lsb12:
        case Packing::grouped10:
        case Packing::grouped12:
            return samples * 3 / 2;
    }
    return 0;
}

}  // namespace vantix::sim
