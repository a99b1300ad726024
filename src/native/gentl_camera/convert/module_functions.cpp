// The conversion's module functions: _unpack and _bit_shift, the kernels
// on their own for Python code that holds samples rather than a component,
// and the table _BAYER_MAP.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../pixel/kernels.hpp"
#include "bayer.hpp"
#include "convert.hpp"
#include "messages.hpp"

namespace vantix::camera {
namespace {

using namespace conversion;

std::size_t count_of(py::handle count) {
    const auto c = dimension(count);
    if (!c) camera_error(kSizeMismatch + std::string("invalid sample count ") + glue::str(count));
    return static_cast<std::size_t>(*c);
}

// _unpack(data, bits, packing, count): `count` samples of a packed format
// ("p" or "Packed", `bits` deep) as a new 1-D uint16 array. `data` is the raw
// packed bytes (uint8), or uint16 samples already unpacked, which are copied.
py::array unpack(py::object data, py::object bits, py::object packing, py::object count) {
    const std::string kind = glue::str(packing);
    const auto depth = dimension(bits);
    const px::Packing pk = kind == "p"        ? px::Packing::lsb
                           : kind == "Packed" ? px::Packing::grouped
                                              : px::Packing::none;
    if (!depth || *depth > 64 || !px::can_unpack(pk, static_cast<int>(*depth)))
        camera_error(kUnsupportedPacking + glue::str(bits) + kind + kPackedDepths +
                     kUnsupportedPackingHint);
    const std::size_t n = count_of(count);
    px::Format f;
    f.bits = static_cast<int>(*depth);
    f.packing = pk;

    const auto array = as_array(data);
    if (!array) camera_error(kEmptyPayload);
    const std::string what = glue::str(bits) + kind;
    const Payload p = samples_of(*array, what);

    if (p.itemsize == 2) {
        if (p.n < n)
            camera_error(kSizeMismatch + what + " needs " + std::to_string(n) +
                         " uint16 values, got " + std::to_string(p.n));
        if (p.n > n) too_large(what, p.n, n, n);
        py::array_t<std::uint16_t> out(static_cast<py::ssize_t>(n));
        std::memcpy(out.mutable_data(), p.bytes(), 2 * n);
        return std::move(out);
    }
    check_packed_size(p.n, f, n, what, PackedFor::samples);
    // The sizes are checked: the output is at most 8/10 of the payload's bytes in samples.
    py::array_t<std::uint16_t> out(static_cast<py::ssize_t>(n));
    std::uint16_t *dst = out.mutable_data();
    px::Status s = px::Status::ok;
    if (n) {
        py::gil_scoped_release unlocked;
        s = px::unpack16(p.bytes(), p.byte_len(), pk, f.bits, dst, n);
    }
    if (s != px::Status::ok) camera_error(kSizeMismatch + what);
    return std::move(out);
}

// _bit_shift(data, bits): samples of `bits` significant bits (8..16) reduced
// to uint8 by a right shift of bits - 8, saturating at 255; same shape.
py::array bit_shift(py::object data, py::object bits) {
    const auto depth = dimension(bits);
    if (!depth || *depth < 8 || *depth > 16)
        camera_error(kUnsupportedFormat + glue::str(bits) + "-bit samples" +
                     kUnsupportedFormatHint);
    const int b = static_cast<int>(*depth);
    const auto array = as_array(data);
    if (!array) camera_error(kEmptyPayload);
    const int itemsize = sample_size(*array);
    if (!itemsize || (itemsize == 1 && b > 8))
        camera_error(kSizeMismatch + std::to_string(b) + "-bit samples need " +
                     (b > 8 ? "uint16" : "uint8 or uint16") + ", got " + glue::str(array->dtype()));
    const Payload p = contiguous(*array, itemsize);
    std::vector<py::ssize_t> shape(p.array.shape(), p.array.shape() + p.array.ndim());
    py::array_t<std::uint8_t> out(shape);
    std::uint8_t *dst = out.mutable_data();
    px::Status s = px::Status::ok;
    {
        py::gil_scoped_release unlocked;
        if (itemsize == 1)
            std::memcpy(dst, p.bytes(), p.n);
        else
            s = px::shift8(p.bytes(), p.byte_len(), b - 8, dst, p.n);
    }
    if (s != px::Status::ok) camera_error(kSizeMismatch + std::to_string(b) + "-bit samples");
    return std::move(out);
}

}  // namespace

void add_conversion(py::module_ &m) {
    m.attr("_BAYER_MAP") = bayer_map();

    m.def("_unpack", &unpack, py::arg("data"), py::arg("bits"), py::arg("packing"),
          py::arg("count"),
          "count samples of a packed format (packing \"p\" or \"Packed\", bits deep) as a new "
          "uint16 array; data is the raw packed bytes or already unpacked uint16 samples.");
    m.def("_bit_shift", &bit_shift, py::arg("data"), py::arg("bits"),
          "samples of `bits` significant bits (8..16) reduced to a new uint8 array by a right "
          "shift of bits - 8, saturating at 255.");
}

}  // namespace vantix::camera
