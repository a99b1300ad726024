// Declarations shared by the files of the camera module: the methods of
// GentlCamera and the module functions, one file per concern.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <utility>

#include "../common/context.hpp"
#include "../common/pyclass.hpp"

namespace vantix::camera {

namespace py = pybind11;
namespace glue = vantix::glue;

// Raised when a method needs the open acquirer ("call open() first").
extern const char *const kCallOpenFirst;

// --- lifecycle.cpp -----------------------------------------------------------
void init(py::object self, py::object params);
void open(py::object self);
void close(py::object self);
void finalize(py::object self);  // __del__
// Stops and destroys the acquirer and gives the producers back; the caller
// holds _fetch_lock (or is the reception that holds it).
void release_resources(py::object self);
// Whether the calling thread is inside this camera's _receive.
bool inside_own_reception(py::object self);

// --- devices/ ----------------------------------------------------------------

// producer_check.cpp: raises CameraError unless the library at `path`
// exports every entry point that harvesters and genicam call (OSError when
// it is no loadable library).
void check_producer(py::object path);

// registration.cpp
enum class Registration { open, enumeration };  // decides how failures are logged
// "none of the <count> producers could be opened (32/64-bit mismatch?)"
std::string none_registered(std::size_t count);

// harvester_registry.cpp: a harvester with the producers registered and the
// device list updated. One producer library can be initialised only once per
// process, so cameras (and enumerations) that use the same producers share
// one harvester; the last one to leave resets it.
struct SharedHarvester {
    py::object harvester;
    long loaded;        // producers that registered
    py::list failures;  // why the others did not
};
SharedHarvester share_harvester(py::object harvester_cls, py::object producers,
                                Registration purpose);
// Gives a harvester back; resets it when no one else uses it. Raises what
// reset() raises.
void release_harvester(py::handle harvester);

// enumeration.cpp
py::dict enumerate_devices(py::object cti_path);

// selection.cpp
py::int_ select_device(py::object self, py::object devices);

// access.cpp
py::tuple open_acquirer(py::object h, py::object index);
// An error of a producer that refuses the access asked for.
bool is_access_refusal(const py::error_already_set &err);

// --- module_events.cpp -------------------------------------------------------
py::object tolerate_unsupported_module_events();
void add_module_events(py::module_ &m);

// --- nodes.cpp ---------------------------------------------------------------
py::object find_node(py::object self, const std::string &name);
void set_node(py::object self, const std::string &name, py::object value);
py::object read_node(py::object self, const std::string &name);
std::string node_pixel_format(py::object self);
void execute_node(py::object self, const std::string &name);
void apply_features(py::object self);
// Writes one node through the instance's _set_node; a failure is logged as
// ignored. A missing node is logged only at DEBUG when `optional`.
bool try_set_node(py::object self, const char *name, py::object value, bool optional);

// --- trigger.cpp -------------------------------------------------------------
void set_trigger_mode(py::object self, py::object mode);
void apply_trigger_mode(py::object self, py::object mode);

// --- buffer_image.cpp ----------------------------------------------------------
// The image of a raw GenTL buffer as a component for _to_bgr, or None when
// harvesters' own payload must describe it.
py::object buffer_image(py::handle raw);
void add_buffer_image(py::module_ &m);

// --- receive.cpp -------------------------------------------------------------
py::object receive(py::object self, py::object timeout_s);
bool is_timeout(py::object exc);

// --- small helpers -----------------------------------------------------------

using glue::truthy;
using glue::with_context;

// getattr(obj, name, fallback), where reading an attribute that raises any
// Exception counts as its absence: a device-info field the producer does not
// provide raises a genicam error, and harvesters raises KeyError for a pixel
// format code it cannot name.
inline py::object read_or(py::handle obj, const char *name, py::object fallback) {
    return glue::getattr_or(obj, name, std::move(fallback), glue::Absent::any_exception);
}

// getattr(obj, name), None when reading it raises (the module's _safe_info).
inline py::object safe_info(py::handle obj, const char *name) {
    return read_or(obj, name, py::none());
}

using glue::int_or_none;

// The logger of the module.
inline py::object logger() { return glue::global("logger"); }

// CameraError(message), raised; chained when a cause is given.
[[noreturn]] inline void camera_error(const std::string &message) {
    glue::raise(glue::global("CameraError"), message);
}
[[noreturn]] inline void camera_error(const std::string &message,
                                      const py::error_already_set &cause) {
    glue::raise_from(glue::global("CameraError"), message, cause);
}

inline bool is_camera_error(const py::error_already_set &err) {
    return glue::is_instance(err, glue::global("CameraError"));
}

}  // namespace vantix::camera
