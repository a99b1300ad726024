#include "checks.hpp"

#include <cstdio>

#include "messages.hpp"

namespace vantix::camera::conversion {
namespace {

constexpr const char *kPackedTooSmall = "-bit packed payload too small: ";
constexpr const char *kPayloadTooLarge = "페이로드가 예상보다 큽니다: ";
constexpr const char *kPayloadTooLargeHint =
    "개). 카메라에서 Mono8/BayerXX8/RGB8/BGR8 중 하나로 설정하거나 params.pixel_format 를 "
    "지정하세요.";

// Raw packed payloads may end in a few bytes of transfer padding after the
// last sample; more than that is a payload of another format.
constexpr std::size_t kPackedSlack = 8;

std::string shown(const std::string &name) { return name.empty() ? "''" : name; }

std::string dtype_name(int itemsize) { return itemsize == 1 ? "uint8" : "uint16"; }

// Values per pixel, as "3" or "1.5".
std::string per_pixel(std::size_t values, std::size_t pixels) {
    if (pixels == 0) return std::to_string(values);
    char text[32];
    std::snprintf(text, sizeof text, "%.2f",
                  static_cast<double>(values) / static_cast<double>(pixels));
    std::string s(text);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

}  // namespace

px::Format parse(const std::string &name) {
    px::Format f;
    switch (px::parse_format(name, f)) {
        case px::ParseResult::ok:
            return f;
        case px::ParseResult::unsupported_packing:
            camera_error(kUnsupportedPacking + name + kPackedDepths + kUnsupportedPackingHint);
        default:
            camera_error(kUnsupportedFormat + shown(name) + kUnsupportedFormatHint);
    }
}

Geometry geometry(py::handle component, const std::string &name) {
    py::object w = attribute(component, "width"), h = attribute(component, "height");
    Geometry g;
    g.name = shown(name);
    g.size = glue::str(w) + "x" + glue::str(h);
    const auto width = dimension(w), height = dimension(h);
    std::size_t pixels = 0;
    if (!width || !height ||
        __builtin_mul_overflow(static_cast<std::size_t>(*width), static_cast<std::size_t>(*height),
                               &pixels) ||
        pixels > static_cast<std::size_t>(PY_SSIZE_T_MAX) / 4)
        camera_error(kSizeMismatch + g.name + " " + g.size + " is not an image size");
    g.width = *width;
    g.height = *height;
    g.pixels = pixels;
    return g;
}

void too_large(const std::string &what, std::size_t n, std::size_t expected, std::size_t pixels) {
    camera_error(kPayloadTooLarge + what + ", " + std::to_string(n) + " values for " +
                 std::to_string(expected) + " (픽셀당 " + per_pixel(n, pixels) +
                 kPayloadTooLargeHint);
}

void check_packed_size(std::size_t n, const px::Format &f, std::size_t count,
                       const std::string &what, PackedFor asker) {
    std::size_t need = 0;
    if (!px::packed_size(f.packing, f.bits, count, need) || n < need)
        camera_error(std::to_string(f.bits) + kPackedTooSmall + what + " needs " +
                     (need ? std::to_string(need) : std::string("more")) + " bytes" +
                     (asker == PackedFor::samples ? " for " + std::to_string(count) + " samples"
                                                  : std::string()) +
                     ", got " + std::to_string(n));
    if (n - need >= kPackedSlack) too_large(what, n, need, count);
}

Form check_samples(const Payload &p, const px::Format &f, const Geometry &g, std::size_t count) {
    const std::string what = g.name + " " + g.size;
    if (g.pixels == 0)
        camera_error(kSizeMismatch + what + " has no pixels, got " + std::to_string(p.n) + " " +
                     dtype_name(p.itemsize) + " values");
    if (f.bits == 8 && p.itemsize == 2)
        camera_error(kSizeMismatch + what + " needs " + std::to_string(count) +
                     " uint8 values, got " + std::to_string(p.n) + " uint16");

    if (p.itemsize == 1 && f.packing != px::Packing::none) {
        check_packed_size(p.n, f, count, what, PackedFor::image);
        return Form::packed;
    }

    // Raw 16-bit words count two bytes per sample.
    const bool raw_words = p.itemsize == 1 && f.bits > 8;
    const std::size_t expected = raw_words ? 2 * count : count;
    if (p.n < expected)
        camera_error(
            kSizeMismatch + what + " needs " + std::to_string(count) + " " +
            (f.bits > 8 ? std::string("uint16 values (or ") + std::to_string(2 * count) + " bytes)"
                        : std::string("uint8 values")) +
            ", got " + std::to_string(p.n) + " " + dtype_name(p.itemsize));
    if (p.n > expected) too_large(what, p.n, expected, g.pixels);
    return f.bits == 8 ? Form::bytes : Form::words;
}

void check_status(px::Status s, const Geometry &g) {
    if (s != px::Status::ok) camera_error(kSizeMismatch + g.name + " " + g.size);
}

}  // namespace vantix::camera::conversion
