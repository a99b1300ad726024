// Pixel-format conversion of a received buffer component to a BGR image
// (to_bgr.cpp), and the module functions around it (module_functions.cpp).
#pragma once

#include <pybind11/pybind11.h>

namespace vantix::camera {

// Adds the conversion names to the camera module: the table _BAYER_MAP and
// the functions _unpack and _bit_shift.
void add_conversion(pybind11::module_ &m);

// GentlCamera._to_bgr(component, pixel_format): the component's image as a
// new BGR uint8 array of shape (height, width, 3); CameraError when it
// cannot be converted.
pybind11::object to_bgr(pybind11::object self, pybind11::object component,
                        pybind11::object pixel_format);

}  // namespace vantix::camera
