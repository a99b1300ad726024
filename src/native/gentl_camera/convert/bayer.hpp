// Bayer mosaics to BGR: the plain bilinear demosaic in the pixel kernels,
// the others through OpenCV.
#pragma once

#include <string>

#include "checks.hpp"

namespace vantix::camera::conversion {

// _BAYER_MAP: the OpenCV code of each PFNC mosaic name.
py::dict bayer_map();

// The mosaic as a BGR image, demosaiced with the code of the camera's
// bayer_cv_code parameter or of _BAYER_MAP.
py::object bayer_to_bgr(py::object self, const Payload &p, const px::Format &f, const Geometry &g,
                        const std::string &name);

}  // namespace vantix::camera::conversion
