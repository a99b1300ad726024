// Pixel-format names (GenICam PFNC spelling) reduced to what a conversion to
// BGR needs: the colour layout, the significant bits per sample and how the
// samples are packed on the wire.
#pragma once

#include <string_view>

#include "kernels.hpp"

namespace vantix::pixel {

enum class Layout {
    mono,   // one grey sample per pixel
    bayer,  // one sample per pixel of a colour filter mosaic
    rgb,    // 8-bit R, G, B
    bgr,    // 8-bit B, G, R
    rgba,   // 8-bit R, G, B, alpha
    bgra,   // 8-bit B, G, R, alpha
};

struct Format {
    Layout layout = Layout::mono;
    int bits = 0;  // significant bits per sample
    Packing packing = Packing::none;
    std::string_view mosaic;  // "BayerRG" etc. for Layout::bayer

    int channels() const;  // samples per pixel
};

enum class ParseResult {
    ok,
    unknown,             // not a format this converter knows
    unsupported_packing  // a packed name whose depth/packing has no unpacker
};

// A name is packed when it ends in digits followed by "p" (PFNC: LSB-first
// bit stream) or "Packed" (3 bytes per 2 samples); the digits are the depth.
// Otherwise the depth is the first run of digits. 8-bit "Packed" names (the
// legacy RGB8Packed, BGRA8Packed, ...) are byte-aligned and need no unpacking.
ParseResult parse_format(std::string_view name, Format &out);

}  // namespace vantix::pixel
