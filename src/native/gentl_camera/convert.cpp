// Conversion of a received buffer component to an owned BGR image, and the
// module helpers _unpack and _bit_shift. The pixel work is done by the pure
// kernels in pixel/ with the GIL released; this file checks every size
// against the payload before a kernel sees it, so that a wrong format name
// or a short buffer becomes a CameraError and never a read past the data.
#include "convert.hpp"

#include <pybind11/numpy.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../common/interrupt.hpp"
#include "camera.hpp"
#include "pixel/format.hpp"
#include "pixel/kernels.hpp"

namespace vantix::camera {
namespace {

namespace px = vantix::pixel;

constexpr const char *kEmptyPayload = "empty payload (unsupported payload type?)";
constexpr const char *kUnknownCvCode = "unknown OpenCV conversion code: ";
constexpr const char *kUnsupportedBayer = "unsupported Bayer format: ";
constexpr const char *kSizeMismatch = "payload size mismatch: ";
constexpr const char *kPackedTooSmall = "-bit packed payload too small: ";
constexpr const char *kUnsupportedFormat = "지원하지 않는 PixelFormat: ";
constexpr const char *kUnsupportedFormatHint =
    ". 카메라 PixelFormat 을 Mono8/BayerXX8 또는 Mono12p 계열로 바꾸세요 (params.pixel_format 으로 "
    "지정 가능).";
constexpr const char *kUnsupportedPacking = "지원하지 않는 팩 포맷: ";
constexpr const char *kUnsupportedPackingHint =
    "). 알려지지 않은 팩 포맷일 수 있습니다 — 카메라 PixelFormat 을 Mono8/BayerXX8 로 바꾸거나 "
    "params.pixel_format 으로 지정하세요.";
constexpr const char *kPayloadTooLarge = "페이로드가 예상보다 큽니다: ";
constexpr const char *kPayloadTooLargeHint =
    "개). 카메라에서 Mono8/BayerXX8/RGB8/BGR8 중 하나로 설정하거나 params.pixel_format 를 "
    "지정하세요.";
// What the packed-format message lists as supported.
constexpr const char *kPackedDepths = " (p: 10/12/14, Packed: 10/12";

// PFNC names a Bayer mosaic after its first row (BayerRG: red at the top-left
// pixel); OpenCV's Bayer codes are named after the second row, so each
// pattern takes the code of its vertical mirror.
constexpr std::pair<const char *, const char *> kBayerMap[] = {
    {"BayerRG", "COLOR_BayerBG2BGR"},
    {"BayerGR", "COLOR_BayerGB2BGR"},
    {"BayerGB", "COLOR_BayerGR2BGR"},
    {"BayerBG", "COLOR_BayerRG2BGR"},
};

// OpenCV's plain (bilinear) Bayer codes, by the mosaic each one reads.
// These are demosaiced by px::demosaic_bgr, which repeats OpenCV's
// arithmetic to the bit without first writing an 8-bit mosaic; the other
// demosaics (_EA, _VNG) are left to OpenCV.
constexpr std::pair<const char *, px::Mosaic> kBilinear[] = {
    {"COLOR_BayerBG2BGR", px::Mosaic::rg},
    {"COLOR_BayerGB2BGR", px::Mosaic::gr},
    {"COLOR_BayerGR2BGR", px::Mosaic::gb},
    {"COLOR_BayerRG2BGR", px::Mosaic::bg},
};

// Raw packed payloads may end in a few bytes of transfer padding after the
// last sample; more than that is a payload of another format.
constexpr std::size_t kPackedSlack = 8;

// --- messages ------------------------------------------------------------

std::string shown(const std::string &name) { return name.empty() ? "''" : name; }

std::string dtype_name(int itemsize) { return itemsize == 1 ? "uint8" : "uint16"; }

// Values per pixel, as "3" or "1.5".
std::string per_pixel(std::size_t values, std::size_t pixels) {
    if (pixels == 0) return std::to_string(values);
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(values) / pixels);
    std::string s(text);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

// --- payload -------------------------------------------------------------

// The component's samples: a C-contiguous, native-order uint8 or uint16 array
// that this object keeps alive while a kernel reads it.
struct Payload {
    py::array array;
    int itemsize = 1;
    std::size_t n = 0;  // elements

    const std::uint8_t *bytes() const { return static_cast<const std::uint8_t *>(array.data()); }
    std::size_t byte_len() const { return n * itemsize; }
};

// Any ndarray, or an object with the buffer protocol taken as raw bytes.
// nullopt for what is neither; a dtype other than unsigned 8/16-bit is
// reported by the caller with the sizes.
std::optional<py::array> as_array(py::handle data) {
    if (data.is_none()) return std::nullopt;
    if (py::isinstance<py::array>(data)) return py::reinterpret_borrow<py::array>(data);
    if (!PyObject_CheckBuffer(data.ptr())) return std::nullopt;
    py::object np = glue::global("np");
    // A buffer numpy cannot take as bytes (not contiguous, say) is unusable.
    return glue::try_except(
        [&]() -> std::optional<py::array> {
            return py::array(np.attr("frombuffer")(data, py::arg("dtype") = np.attr("uint8")));
        },
        [](const py::error_already_set &) -> std::optional<py::array> { return std::nullopt; });
}

// getattr(obj, name, None), letting errors other than AttributeError through.
py::object attribute(py::handle obj, const char *name) {
    return glue::getattr_or(obj, name, py::none());
}

// Unsigned samples of one or two bytes; 0 for any other dtype.
int sample_size(const py::array &a) {
    const py::dtype dt = a.dtype();
    if (dt.kind() != 'u' || (dt.itemsize() != 1 && dt.itemsize() != 2)) return 0;
    return static_cast<int>(dt.itemsize());
}

Payload contiguous(const py::array &a, int itemsize) {
    Payload p;
    p.itemsize = itemsize;
    if (itemsize == 1)
        p.array = py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast>::ensure(a);
    else
        p.array = py::array_t<std::uint16_t, py::array::c_style | py::array::forcecast>::ensure(a);
    if (!p.array) throw py::error_already_set();
    p.n = static_cast<std::size_t>(p.array.size());
    return p;
}

// --- image geometry --------------------------------------------------------

struct Geometry {
    std::string name;  // format name, for messages
    std::string size;  // "WxH", for messages
    py::ssize_t width = 0, height = 0;
    std::size_t pixels = 0;
};

std::optional<py::ssize_t> dimension(py::handle value) {
    PyObject *index = PyNumber_Index(value.ptr());
    if (!index) {
        PyErr_Clear();
        return std::nullopt;
    }
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index, &overflow);
    Py_DECREF(index);
    if (overflow || v < 0 || (v == -1 && PyErr_Occurred())) {
        PyErr_Clear();
        return std::nullopt;
    }
    return static_cast<py::ssize_t>(v);
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

// --- sample checks ---------------------------------------------------------

// How the kernels are to read the payload.
enum class Form { bytes, words, packed };

[[noreturn]] void too_large(const std::string &what, std::size_t n, std::size_t expected,
                            std::size_t pixels) {
    camera_error(kPayloadTooLarge + what + ", " + std::to_string(n) + " values for " +
                 std::to_string(expected) + " (픽셀당 " + per_pixel(n, pixels) +
                 kPayloadTooLargeHint);
}

// Checks that the payload holds exactly `count` samples of the format, in
// one of the forms the format can come in; returns the form.
//   8-bit: uint8, one per sample.
//   9..16-bit: uint16, or their raw little-endian bytes as uint8.
//   packed: uint16 as the library expanded them, or the raw packed bytes.
Form check_samples(const Payload &p, const px::Format &f, const Geometry &g, std::size_t count) {
    const std::string what = g.name + " " + g.size;
    if (g.pixels == 0)
        camera_error(kSizeMismatch + what + " has no pixels, got " + std::to_string(p.n) + " " +
                     dtype_name(p.itemsize) + " values");
    if (f.bits == 8 && p.itemsize == 2)
        camera_error(kSizeMismatch + what + " needs " + std::to_string(count) +
                     " uint8 values, got " + std::to_string(p.n) + " uint16");

    if (p.itemsize == 1 && f.packing != px::Packing::none) {
        std::size_t need = 0;
        if (!px::packed_size(f.packing, f.bits, count, need) || p.n < need)
            camera_error(std::to_string(f.bits) + kPackedTooSmall + what + " needs " +
                         (need ? std::to_string(need) : std::string("more")) + " bytes, got " +
                         std::to_string(p.n));
        if (p.n - need >= kPackedSlack) too_large(what, p.n, need, g.pixels);
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

void check_status(px::Status s, const Geometry &g) {
    if (s != px::Status::ok) camera_error(kSizeMismatch + g.name + " " + g.size);
}

// A new (height, width[, 3]) uint8 array that owns its memory.
py::array_t<std::uint8_t> new_image(const Geometry &g, bool colour) {
    if (colour) return py::array_t<std::uint8_t>({g.height, g.width, py::ssize_t(3)});
    return py::array_t<std::uint8_t>({g.height, g.width});
}

// A new image filled by kernel(dst), which returns a px::Status, with the
// GIL released.
template <class Kernel>
py::array filled(const Geometry &g, bool colour, const Kernel &kernel) {
    auto out = new_image(g, colour);
    std::uint8_t *dst = out.mutable_data();
    px::Status s;
    {
        py::gil_scoped_release unlocked;
        s = kernel(dst);
    }
    check_status(s, g);
    return std::move(out);
}

// --- per layout ------------------------------------------------------------

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
    check_samples(p, f, g, g.pixels * f.channels());
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

bool ends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// COLOR_Bayer<pattern>2BGR, plain or with the _EA or _VNG demosaic.
bool is_bayer_to_bgr(std::string_view name) {
    return name.substr(0, 11) == "COLOR_Bayer" &&
           (ends_with(name, "2BGR") || ends_with(name, "2BGR_EA") || ends_with(name, "2BGR_VNG"));
}

// The OpenCV code for a Bayer mosaic: the bayer_cv_code parameter when set,
// else the _BAYER_MAP entry of the pattern. Only Bayer-to-BGR codes are
// taken, so the result always has three channels.
py::object bayer_code(py::object self, py::object cv2, const px::Format &f,
                      const std::string &name) {
    py::object forced = self.attr("params").attr("get")("bayer_cv_code");
    py::object code_name;
    if (!forced.is_none() && glue::str(forced) != "") {
        code_name = forced;
    } else {
        py::object table = glue::global("_BAYER_MAP");
        py::str key(std::string(f.mosaic));
        if (!table.contains(key)) camera_error(kUnsupportedBayer + name);
        code_name = table[key];
    }
    const std::string text = glue::str(code_name);
    if (!py::isinstance<py::str>(code_name) || !is_bayer_to_bgr(text) ||
        !py::hasattr(cv2, text.c_str()))
        camera_error(kUnknownCvCode + text);
    py::object code = cv2.attr(text.c_str());
    if (!PyLong_CheckExact(code.ptr())) camera_error(kUnknownCvCode + text);
    return code;
}

// The mosaic an OpenCV code reads when it is a plain bilinear one (under
// any of its names).
std::optional<px::Mosaic> bilinear_mosaic(py::object cv2, py::object code) {
    for (const auto &[name, mosaic] : kBilinear)
        if (py::hasattr(cv2, name) && code.equal(cv2.attr(name))) return mosaic;
    return std::nullopt;
}

// OpenCV, imported on first use. Its loader swallows every exception, a
// KeyboardInterrupt included, so Ctrl+C is held back until that first
// import is done; later calls find the module loaded.
py::object opencv() {
    if (PyObject *loaded = PyImport_GetModule(py::str("cv2").ptr()))
        return py::reinterpret_steal<py::object>(loaded);
    if (PyErr_Occurred()) throw py::error_already_set();
    glue::DeferredInterrupt held_back;
    return py::module_::import("cv2");
}

// Demosaics at 8 bits: deeper samples are shifted down first (fused into
// the bilinear demosaic, a separate pass before OpenCV's others), because
// OpenCV's 16-bit demosaic has no vector path.
py::object bayer_to_bgr(py::object self, const Payload &p, const px::Format &f, const Geometry &g,
                        const std::string &name) {
    const Form form = check_samples(p, f, g, g.pixels);
    py::object cv2 = opencv();
    py::object code = bayer_code(self, cv2, f, name);

    if (const auto mosaic = bilinear_mosaic(cv2, code)) {
        // Packed samples already unpacked to uint16 are read as words.
        const px::Packing packing = form == Form::packed ? f.packing : px::Packing::none;
        return filled(g, true, [&](std::uint8_t *dst) {
            return px::demosaic_bgr(p.bytes(), p.byte_len(), packing, f.bits, *mosaic,
                                    static_cast<std::size_t>(g.width),
                                    static_cast<std::size_t>(g.height), dst);
        });
    }

    py::array mosaic;
    if (form == Form::bytes) {
        // A view of the payload: cvtColor writes a new image.
        mosaic = py::array_t<std::uint8_t>({g.height, g.width}, {g.width, py::ssize_t(1)},
                                           p.bytes(), p.array);
    } else {
        mosaic = filled(g, false, [&](std::uint8_t *dst) {
            return form == Form::words
                       ? px::shift8(p.bytes(), p.byte_len(), f.bits - 8, dst, g.pixels)
                       : px::unpack8(p.bytes(), p.byte_len(), f.packing, f.bits, dst, g.pixels);
        });
    }
    return cv2.attr("cvtColor")(mosaic, code);
}

// --- bound functions ---------------------------------------------------------

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
    const int itemsize = sample_size(*array);
    if (!itemsize)
        camera_error(kSizeMismatch + g.name + " " + g.size +
                     " needs uint8 or uint16 samples, got " + glue::str(array->dtype()));
    const Payload p = contiguous(*array, itemsize);
    switch (f.layout) {
        case px::Layout::mono:
            return mono_to_bgr(p, f, g);
        case px::Layout::bayer:
            return bayer_to_bgr(self, p, f, g, name);
        default:
            return colour_to_bgr(p, f, g);
    }
}

namespace {

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
    const int itemsize = sample_size(*array);
    const std::string what = glue::str(bits) + kind;
    if (!itemsize)
        camera_error(kSizeMismatch + what + " needs uint8 or uint16 samples, got " +
                     glue::str(array->dtype()));
    const Payload p = contiguous(*array, itemsize);

    if (p.itemsize == 2) {
        if (p.n < n)
            camera_error(kSizeMismatch + what + " needs " + std::to_string(n) +
                         " uint16 values, got " + std::to_string(p.n));
        if (p.n > n) too_large(what, p.n, n, n);
        py::array_t<std::uint16_t> out(static_cast<py::ssize_t>(n));
        std::memcpy(out.mutable_data(), p.bytes(), 2 * n);
        return std::move(out);
    }
    std::size_t need = 0;
    if (!px::packed_size(pk, f.bits, n, need) || p.n < need)
        camera_error(std::to_string(f.bits) + kPackedTooSmall + what + " needs " +
                     (need ? std::to_string(need) : std::string("more")) + " bytes for " +
                     std::to_string(n) + " samples, got " + std::to_string(p.n));
    if (p.n - need >= kPackedSlack) too_large(what, p.n, need, n);
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
    py::dict bayer_map;
    for (const auto &[pattern, code] : kBayerMap) bayer_map[pattern] = code;
    m.attr("_BAYER_MAP") = bayer_map;

    m.def("_unpack", &unpack, py::arg("data"), py::arg("bits"), py::arg("packing"),
          py::arg("count"),
          "count samples of a packed format (packing \"p\" or \"Packed\", bits deep) as a new "
          "uint16 array; data is the raw packed bytes or already unpacked uint16 samples.");
    m.def("_bit_shift", &bit_shift, py::arg("data"), py::arg("bits"),
          "samples of `bits` significant bits (8..16) reduced to a new uint8 array by a right "
          "shift of bits - 8, saturating at 255.");
}

}  // namespace vantix::camera
