// Pixel-format conversion of a received buffer component to a BGR image.
#pragma once

#include <pybind11/pybind11.h>

namespace vantix::camera {

// Adds the conversion names to the camera module and class: the module table
// _BAYER_MAP, the module functions _unpack and _bit_shift, and the method
// GentlCamera._to_bgr(component, pixel_format).
void add_conversion(pybind11::module_ &m, pybind11::object cls);

}  // namespace vantix::camera
