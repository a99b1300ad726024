#include "payload.hpp"

#include "messages.hpp"

namespace vantix::camera::conversion {

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

Payload samples_of(const py::array &a, const std::string &what) {
    const int itemsize = sample_size(a);
    if (!itemsize)
        camera_error(kSizeMismatch + what + " needs uint8 or uint16 samples, got " +
                     glue::str(a.dtype()));
    return contiguous(a, itemsize);
}

py::object attribute(py::handle obj, const char *name) {
    return glue::getattr_or(obj, name, py::none());
}

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

}  // namespace vantix::camera::conversion
