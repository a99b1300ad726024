// The harvesters shared by the cameras and enumerations that use the same
// producers (_SHARED_HARVESTERS, under _HARVESTERS_LOCK).
#include "registration.hpp"

namespace vantix::camera {
namespace {

// One producer reached through several spellings (a symlinked SDK folder)
// is one library, which can be initialised only once.
py::tuple producer_key(py::handle producers) {
    py::object path_module = py::module_::import("os").attr("path");
    py::list paths;
    for (py::handle p : producers)
        paths.append(path_module.attr("normcase")(path_module.attr("realpath")(p["path"])));
    return py::tuple(paths);
}

}  // namespace

SharedHarvester share_harvester(py::object harvester_cls, py::object producers,
                                Registration purpose) {
    glue::HeldLock held(glue::global("_HARVESTERS_LOCK"));
    py::dict shared = glue::global("_SHARED_HARVESTERS");
    py::tuple key = producer_key(producers);
    if (shared.contains(key)) {
        py::dict entry = shared[key];
        entry["users"] = entry["users"].cast<long>() + 1;
        return {entry["harvester"], entry["loaded"].cast<long>(), entry["failures"]};
    }
    py::object h = harvester_cls();
    Registered registered;
    try {
        registered = register_producers(h, producers, purpose);
    } catch (py::error_already_set &) {
        glue::ignoring_exceptions([&] { h.attr("reset")(); });
        throw;
    }
    py::dict entry;
    entry["harvester"] = h;
    entry["users"] = 1;
    entry["loaded"] = registered.loaded;
    entry["failures"] = registered.failures;
    shared[key] = entry;
    return {h, registered.loaded, registered.failures};
}

void release_harvester(py::handle harvester) {
    glue::HeldLock held(glue::global("_HARVESTERS_LOCK"));
    py::dict shared = glue::global("_SHARED_HARVESTERS");
    for (auto item : shared) {
        py::dict entry = py::reinterpret_borrow<py::dict>(item.second);
        if (!py::object(entry["harvester"]).is(harvester)) continue;
        const long users = entry["users"].cast<long>() - 1;
        if (users > 0) {
            entry["users"] = users;
            return;
        }
        shared.attr("pop")(item.first);
        break;
    }
    harvester.attr("reset")();
}

}  // namespace vantix::camera
