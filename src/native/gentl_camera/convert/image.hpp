// The owned 8-bit images a conversion returns, filled by a pixel kernel with
// the GIL released.
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>
#include <utility>

#include "checks.hpp"

namespace vantix::camera::conversion {

// A new (height, width[, 3]) uint8 array that owns its memory.
inline py::array_t<std::uint8_t> new_image(const Geometry &g, bool colour) {
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

}  // namespace vantix::camera::conversion
