// The image of a raw GenTL buffer, read without harvesters' payload objects.
//
// harvesters builds its payload inside the fetch and unpacks packed pixel
// formats there with numpy (about 15 ms for five megapixels, more than the
// conversion to BGR takes), and it sizes the 10-bit "Packed" layout as the
// "p" one, so those frames arrive cut short. For a plain image the camera
// reads the buffer itself: the component handed to _to_bgr carries the
// bytes as the camera sent them (`raw_data`), which the conversion unpacks
// in the same pass as it expands them to BGR; its `data` gives the samples
// as harvesters would, computed when asked for. Anything else (multi-part
// buffers, line padding, a format code without a name or not convertible)
// goes through harvesters' own payload, as before.
#include <string>

#include "camera.hpp"
#include "pixel/format.hpp"

namespace vantix::camera {

namespace px = vantix::pixel;

namespace {

constexpr long kPayloadImage = 1;      // PAYLOAD_TYPE_IMAGE
constexpr long kPayloadChunkData = 4;  // PAYLOAD_TYPE_CHUNK_DATA: an image with chunks after it

long info_long(py::handle raw, const char *name) { return py::int_(raw.attr(name)).cast<long>(); }

// Bytes of `samples` samples of the format as sent.
std::size_t payload_bytes(const px::Format &f, std::size_t samples) {
    std::size_t bytes = 0;
    if (f.packing != px::Packing::none)
        return px::packed_size(f.packing, f.bits, samples, bytes) ? bytes : 0;
    return samples * (f.bits > 8 ? 2 : 1);
}

// The image component of `raw`, or None when harvesters must build it.
py::object read_image(py::handle raw) {
    const long type = info_long(raw, "payload_type");
    if ((type != kPayloadImage && type != kPayloadChunkData) || info_long(raw, "padding_x") != 0)
        return py::none();
    py::object names = py::module_::import("harvesters.util.pfnc").attr("dict_by_ints");
    py::object name = names.attr("get")(raw.attr("pixel_format"));
    if (name.is_none()) return py::none();
    const std::string format_name = glue::str(name);  // f.mosaic views it
    px::Format f;
    if (px::parse_format(format_name, f) != px::ParseResult::ok) return py::none();

    const long width = info_long(raw, "width");
    long height = info_long(raw, "height");
    if (height == 0) height = info_long(raw, "delivered_image_height");  // line-scan cameras
    if (width <= 0 || height <= 0) return py::none();
    const auto samples = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                         static_cast<std::size_t>(f.channels());
    const std::size_t need = payload_bytes(f, samples);
    const long offset = info_long(raw, "image_offset");
    const long filled = info_long(raw, "size_filled");
    if (need == 0 || offset < 0 || filled < offset) return py::none();
    // A short payload is handed over as it is: the conversion names the size.
    const std::size_t count = std::min(need, static_cast<std::size_t>(filled - offset));

    py::object np = glue::global("np");
    py::object image = glue::global("_BufferImage")();
    image.attr("width") = width;
    image.attr("height") = height;
    image.attr("data_format") = name;
    image.attr("raw_data") =
        np.attr("frombuffer")(raw.attr("raw_buffer"), np.attr("uint8"), py::arg("count") = count,
                              py::arg("offset") = offset);
    return image;
}

// _BufferImage.data: the samples as harvesters gives them (bytes for 8-bit
// formats, 16-bit words for wider ones, packed formats unpacked).
py::object image_data(py::object self) {
    py::object raw = self.attr("raw_data");
    const std::string format_name = glue::str(self.attr("data_format"));  // f.mosaic views it
    px::Format f;
    px::parse_format(format_name, f);
    if (f.packing != px::Packing::none) {
        const py::int_ samples(self.attr("width").cast<long>() * self.attr("height").cast<long>() *
                               f.channels());
        return glue::global("_unpack")(raw, f.bits, f.packing == px::Packing::lsb ? "p" : "Packed",
                                       samples);
    }
    if (f.bits > 8) return raw.attr("view")(glue::global("np").attr("dtype")("<u2"));
    return raw;
}

}  // namespace

py::object buffer_image(py::handle raw) {
    // An info the producer does not give: harvesters decides.
    return glue::try_except([&] { return read_image(raw); },
                            [](const py::error_already_set &) { return py::none(); });
}

void add_buffer_image(py::module_ &m) {
    glue::ClassBuilder(m, "_BufferImage", py::make_tuple(),
                       "The image of a GenTL buffer: width, height, data_format, raw_data (the "
                       "bytes as sent) and data (the samples, unpacked).")
        .property("data", &image_data, "The samples, as harvesters gives them.")
        .finish();
}

}  // namespace vantix::camera
