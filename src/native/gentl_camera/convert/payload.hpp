// The Python side of a conversion's input: a buffer taken as unsigned 8- or
// 16-bit samples, and whole numbers taken as sizes.
#pragma once

#include <pybind11/numpy.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "../camera.hpp"

namespace vantix::camera::conversion {

// The component's samples: a C-contiguous, native-order uint8 or uint16 array
// that this object keeps alive while a kernel reads it.
struct Payload {
    py::array array;
    int itemsize = 1;
    std::size_t n = 0;  // elements

    const std::uint8_t *bytes() const { return static_cast<const std::uint8_t *>(array.data()); }
    std::size_t byte_len() const { return n * static_cast<std::size_t>(itemsize); }
};

// Any ndarray, or an object with the buffer protocol taken as raw bytes.
// nullopt for what is neither; a dtype other than unsigned 8/16-bit is
// reported by the caller with the sizes.
std::optional<py::array> as_array(py::handle data);

// Unsigned samples of one or two bytes; 0 for any other dtype.
int sample_size(const py::array &a);

// The array's samples of `itemsize` bytes (sample_size), contiguous.
Payload contiguous(const py::array &a, int itemsize);

// The array as uint8 or uint16 samples; CameraError naming `what` for any
// other dtype.
Payload samples_of(const py::array &a, const std::string &what);

// getattr(obj, name, None), letting errors other than AttributeError through.
py::object attribute(py::handle obj, const char *name);

// A whole number (anything with __index__) from 0 up; nullopt otherwise.
std::optional<py::ssize_t> dimension(py::handle value);

}  // namespace vantix::camera::conversion
