// _tolerate_unsupported_module_events: while an acquirer is created, a
// producer that rejects an unsupported module event type with an
// invalid-parameter error is made to look like one that does not implement
// events, which the acquirer creation tolerates.
#include "camera.hpp"

namespace vantix::camera {

namespace {

constexpr const char *kModuleClasses[] = {"System", "Interface", "Device", "DataStream"};
constexpr const char *kMethod = "register_event";

// The patch is process-wide, so overlapping uses (several threads opening
// cameras) install it once and restore when the last one leaves; all of it
// runs under the GIL. Class -> its own register_event (None when inherited).
// Never freed: it may outlive the interpreter's teardown of the module.
int g_depth = 0;
py::dict &saved_methods() {
    static auto *saved = new py::dict();
    return *saved;
}

py::object make_wrapper(py::handle cls, py::object original, py::object invalid,
                        py::object not_implemented) {
    return py::cpp_function(
        [original, invalid, not_implemented](py::object self, py::object event_type) {
            try {
                return original(self, event_type);
            } catch (py::error_already_set &err) {
                if (glue::is_instance(err, invalid))
                    glue::raise_from(not_implemented, glue::str(err.value()), err);
                throw;
            }
        },
        py::name(kMethod), py::is_method(cls), py::arg("event_type"));
}

void restore_all() {
    py::dict &saved = saved_methods();
    for (auto item : saved) {
        if (item.second.is_none())
            py::delattr(item.first, kMethod);
        else
            py::setattr(item.first, kMethod, item.second);
    }
    saved.clear();
}

void enter_block(py::object) {
    py::module_ gentl = py::module_::import("genicam.gentl");
    py::object invalid = gentl.attr("InvalidParameterException");
    py::object not_implemented = gentl.attr("NotImplementedException");
    if (g_depth++ > 0) return;
    try {
        for (const char *name : kModuleClasses) {
            py::object cls = gentl.attr(name);
            py::object own = cls.attr("__dict__").attr("get")(kMethod);
            py::object original = cls.attr(kMethod);
            saved_methods()[cls] = own;
            py::setattr(cls, kMethod, make_wrapper(cls, original, invalid, not_implemented));
        }
    } catch (...) {
        --g_depth;
        restore_all();
        throw;
    }
}

bool exit_block(py::object, py::object, py::object, py::object) {
    if (g_depth == 0) return false;
    --g_depth;
    if (g_depth == 0) restore_all();
    return false;
}

}  // namespace

py::object tolerate_unsupported_module_events() { return glue::global("_ModuleEventTolerance")(); }

void add_module_events(py::module_ &m) {
    glue::ClassBuilder(m, "_ModuleEventTolerance", py::make_tuple(),
                       "Context manager of _tolerate_unsupported_module_events().")
        .method("__enter__", &enter_block)
        .method("__exit__", &exit_block)
        .finish();
}

}  // namespace vantix::camera
