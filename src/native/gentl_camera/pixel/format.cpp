#include "format.hpp"

#include <limits>

namespace vantix::pixel {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The value of a run of digits, saturated well above any real depth.
int depth_of(std::string_view digits) {
    int value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
        if (value > 1000) return 1000;
    }
    return value;
}

bool ends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Splits "<prefix><digits>" at its trailing run of digits.
bool split_depth(std::string_view stem, std::string_view &prefix, int &bits) {
    std::size_t i = stem.size();
    while (i > 0 && is_digit(stem[i - 1])) --i;
    if (i == stem.size()) return false;
    prefix = stem.substr(0, i);
    bits = depth_of(stem.substr(i));
    return true;
}

bool has_digit(std::string_view s) {
    for (char c : s)
        if (is_digit(c)) return true;
    return false;
}

}  // namespace

bool can_unpack(Packing packing, int bits) {
    switch (packing) {
        case Packing::lsb:
            return bits == 10 || bits == 12 || bits == 14;
        case Packing::grouped:
            return bits == 10 || bits == 12;
        default:
            return false;
    }
}

bool packed_size(Packing packing, int bits, std::size_t count, std::size_t &bytes) {
    if (!can_unpack(packing, bits)) return false;
    // Grouped samples take 12 bits each whatever their depth.
    const std::size_t width = packing == Packing::grouped ? 12 : static_cast<std::size_t>(bits);
    if (count > std::numeric_limits<std::size_t>::max() / width) return false;
    bytes = (count * width + 7) / 8;
    return true;
}

int Format::channels() const {
    switch (layout) {
        case Layout::rgb:
        case Layout::bgr:
            return 3;
        case Layout::rgba:
        case Layout::bgra:
            return 4;
        default:
            return 1;
    }
}

ParseResult parse_format(std::string_view name, Format &out) {
    Packing packing = Packing::none;
    std::string_view stem = name;
    std::string_view prefix;
    int bits = 0;
    if (ends_with(name, "Packed") && split_depth(name.substr(0, name.size() - 6), prefix, bits)) {
        packing = Packing::grouped;
    } else if (ends_with(name, "p") && split_depth(name.substr(0, name.size() - 1), prefix, bits)) {
        packing = Packing::lsb;
    } else if (!split_depth(stem, prefix, bits)) {
        return ParseResult::unknown;
    }
    // Digits inside the prefix (Coord3D_A8, Mono10c3p32) mean a layout this
    // converter does not know.
    if (prefix.empty() || has_digit(prefix)) return ParseResult::unknown;
    // 8-bit samples are whole bytes whatever the name says.
    if (bits == 8 && packing == Packing::grouped) packing = Packing::none;

    Format f;
    f.bits = bits;
    f.packing = packing;
    if (prefix == "Mono") {
        f.layout = Layout::mono;
    } else if (prefix.substr(0, 5) == "Bayer") {
        f.layout = Layout::bayer;
        f.mosaic = prefix;
    } else if (prefix == "RGB") {
        f.layout = Layout::rgb;
    } else if (prefix == "BGR") {
        f.layout = Layout::bgr;
    } else if (prefix == "RGBa" || prefix == "RGBA") {
        f.layout = Layout::rgba;
    } else if (prefix == "BGRa" || prefix == "BGRA") {
        f.layout = Layout::bgra;
    } else {
        return ParseResult::unknown;
    }

    if (f.channels() > 1) {
        // Colour is taken in 8-bit samples only.
        if (bits != 8 || packing != Packing::none) return ParseResult::unknown;
    } else if (packing != Packing::none) {
        if (!can_unpack(packing, bits)) return ParseResult::unsupported_packing;
    } else if (bits < 8 || bits > 16) {
        return ParseResult::unknown;
    }
    out = f;
    return ParseResult::ok;
}

}  // namespace vantix::pixel
