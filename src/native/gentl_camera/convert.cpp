#include "convert.hpp"

namespace vantix::camera {

void add_conversion(pybind11::module_ &, pybind11::object) {}

}  // namespace vantix::camera
