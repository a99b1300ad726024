// Routes this module's kernels to the process's one thread pool, which
// vantix._threads owns and offers as a capsule. Called at module init.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "pyclass.hpp"
#include "work_sharing.hpp"

namespace vantix::glue {

inline void use_shared_pool() {
    auto *api = static_cast<const VantixWorkApi *>(PyCapsule_Import(VANTIX_WORK_API_CAPSULE, 0));
    if (!api) throw py::error_already_set();
    if (api->version != VANTIX_WORK_API_VERSION)
        raise(PyExc_ImportError, "vantix._threads is version " + std::to_string(api->version) +
                                     " of the work-sharing interface; this module needs " +
                                     std::to_string(VANTIX_WORK_API_VERSION) +
                                     " (reinstall the package)");
    work::use(api);
}

}  // namespace vantix::glue
