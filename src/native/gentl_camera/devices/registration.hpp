// Registering the producers on a new harvester.
#pragma once

#include "../camera.hpp"

namespace vantix::camera {

struct Registered {
    long loaded = 0;
    py::list failures;  // why each producer that failed did (texts name the file)
};

// Registers the producers on the harvester `h` and updates its device list.
// A producer that fails is skipped and logged as `purpose` says.
Registered register_producers(py::object h, py::handle producers, Registration purpose);

}  // namespace vantix::camera
