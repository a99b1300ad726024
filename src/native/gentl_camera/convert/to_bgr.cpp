// GentlCamera._to_bgr: a received buffer component to an owned BGR image,
// by the kernel that reads its layout and form. The pixel work runs with the
// GIL released, after checks.hpp has matched every size to the payload.
#include <cstdint>
#include <string>

#include "../pixel/kernels.hpp"
#include "bayer.hpp"
#include "convert.hpp"
#include "image.hpp"
#include "messages.hpp"

namespace vantix::camera {
namespace {

using namespace conversion;

py::object mono_to_bgr(const Payload &p, const px::Format &f, const Geometry &g) {
    const Form form = check_samples(p, f, g, g.pixels);
    return filled(g, true, [&](std::uint8_t *dst) {
        switch (form) {
            case Form::bytes:
                return px::to_bgr8(p.bytes(), p.byte_len(), px::Order::grey, dst, g.pixels);
            case Form::words:
                return px::shift_bgr(p.bytes(), p.byte_len(), f.bits - 8, dst, g.pixels);
            default:
                return px::unpack_bgr(p.bytes(), p.byte_len(), f.packing, f.bits, dst, g.pixels);
        }
    });
}

py::object colour_to_bgr(const Payload &p, const px::Format &f, const Geometry &g) {
    check_samples(p, f, g, g.pixels * static_cast<std::size_t>(f.channels()));
    px::Order order = px::Order::bgr;
    switch (f.layout) {
        case px::Layout::rgb:
            order = px::Order::rgb;
            break;
        case px::Layout::rgba:
            order = px::Order::rgba;
            break;
        case px::Layout::bgra:
            order = px::Order::bgra;
            break;
        default:
            break;
    }
    return filled(g, true, [&](std::uint8_t *dst) {
        return px::to_bgr8(p.bytes(), p.byte_len(), order, dst, g.pixels);
    });
}

// The component's own format name; the camera's node format when the
// component has none (or one harvesters cannot name). The buffer's name
// describes the bytes at hand, which the node may no longer do.
std::string format_name(py::handle component, py::handle pixel_format) {
    py::object own = read_or(component, "data_format", py::none());
    std::string name = own.is_none() ? std::string() : glue::str(own);
    if (name.empty() && !pixel_format.is_none()) name = glue::str(pixel_format);
    return name;
}

}  // namespace

py::object to_bgr(py::object self, py::object component, py::object pixel_format) {
    const std::string name = format_name(component, pixel_format);
    // A component read from the raw buffer carries the bytes as sent, which
    // are unpacked here in the same pass as the expansion to BGR.
    py::object raw = attribute(component, "raw_data");
    const auto array = as_array(raw.is_none() ? attribute(component, "data") : raw);
    if (!array || array->size() == 0) camera_error(kEmptyPayload);
    const px::Format f = parse(name);
    const Geometry g = geometry(component, name);
    const Payload p = samples_of(*array, g.name + " " + g.size);
    switch (f.layout) {
        case px::Layout::mono:
            return mono_to_bgr(p, f, g);
        case px::Layout::bayer:
            return bayer_to_bgr(self, p, f, g, name);
        default:
            return colour_to_bgr(p, f, g);
    }
}

}  // namespace vantix::camera
