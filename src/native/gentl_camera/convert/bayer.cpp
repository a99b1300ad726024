#include "bayer.hpp"

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "../../common/interrupt.hpp"
#include "image.hpp"

namespace vantix::camera::conversion {
namespace {

constexpr const char *kUnknownCvCode = "unknown OpenCV conversion code: ";
constexpr const char *kUnsupportedBayer = "unsupported Bayer format: ";

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
        code_name = std::move(forced);
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

}  // namespace

py::dict bayer_map() {
    py::dict table;
    for (const auto &[pattern, code] : kBayerMap) table[pattern] = code;
    return table;
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

}  // namespace vantix::camera::conversion
