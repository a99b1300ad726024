// GenICam node access on the open acquirer's remote node map, and the
// application of the configured settings.
//
// Raised as CameraError (by _set_node / _execute_node): a missing node, a
// node that is not writable or rejects the value, a missing or failing
// command. Logged and ignored: the same failures for the convenience
// settings, the manual-mode switches and the trigger set-up, which must not
// stop open(). Entries of params["features"] were asked for explicitly, so
// their failures stop open().
#include <string>

#include "../common/control_chars.hpp"
#include "camera.hpp"

namespace vantix::camera {

namespace {

constexpr const char *kNodeNotFound = "GenICam node not found: ";
constexpr const char *kSetFailed = "failed to set node ";
constexpr const char *kNoCommand = "no such command node: ";
constexpr const char *kCommandFailed = "command execution failed ";
constexpr const char *kLogSetIgnored = "node setting failed (ignored) %s=%s: %s";
constexpr const char *kLogNoCandidate =
    "'%s' 를 적용할 노드를 못 찾음(후보 %s). 이 카메라의 실제 노드명을 params.features 에 "
    "직접 지정하세요.";

// The setting whose value also needs the frame-rate enable node.
constexpr const char *kFrameRateKey = "fps";

py::object access_modes() { return py::module_::import("genicam.genapi").attr("EAccessMode"); }

bool is_writable(py::handle node, py::object &mode) {
    mode = node.attr("get_access_mode")();
    py::object modes = access_modes();
    return mode.equal(modes.attr("RW")) || mode.equal(modes.attr("WO"));
}

std::string access_mode_name(py::handle mode) {
    return glue::try_except([&] { return glue::str(access_modes()(mode).attr("name")); },
                            [&](const py::error_already_set &) { return glue::str(mode); });
}

// Writes a value in the form the node's interface takes. Text goes through
// the node's own parser (configuration files often hold numbers as text); a
// command node is executed for a true value.
void write_value(py::handle node, py::handle value) {
    const std::string kind = py::str(py::type::handle_of(node).attr("__name__"));
    const bool is_text = PyUnicode_Check(value.ptr());
    if (kind == "ICommand") {
        if (truthy(value)) node.attr("execute")();
    } else if (is_text && kind != "IEnumeration" && kind != "IString") {
        node.attr("from_string")(value);
    } else if (kind == "IInteger") {
        py::object as_int;
        try {
            as_int = py::module_::import("operator").attr("index")(value);
        } catch (py::error_already_set &err) {
            if (!err.matches(PyExc_TypeError)) throw;
            as_int = py::module_::import("builtins")
                         .attr("round")(py::float_(py::reinterpret_borrow<py::object>(value)));
        }
        node.attr("value") = as_int;
    } else if (kind == "IFloat") {
        node.attr("value") = py::float_(py::reinterpret_borrow<py::object>(value));
    } else if (kind == "IBoolean") {
        node.attr("value") = py::bool_(truthy(value));
    } else if (kind == "IEnumeration" && PyLong_Check(value.ptr()) && !PyBool_Check(value.ptr())) {
        node.attr("set_int_value")(value);
    } else if (kind == "IEnumeration" || kind == "IString") {
        node.attr("value") = py::str(value);
    } else {
        node.attr("value") = value;
    }
}

// What to show for a failed write: the underlying error when there is one.
py::object failure_reason(const py::error_already_set &err) {
    py::object cause = err.value().attr("__cause__");
    return cause.is_none() ? err.value() : cause;
}

// One convenience setting: the first candidate node that exists and takes
// the value wins.
void apply_setting(py::object self, py::handle key, py::handle value, py::handle candidates) {
    bool found = false;
    for (py::handle name : candidates) {
        if (self.attr("_find_node")(name).is_none()) continue;
        found = true;
        try {
            self.attr("_set_node")(name, value);
            return;
        } catch (py::error_already_set &err) {
            if (!is_camera_error(err)) throw;
            glue::log(logger(), "warning", kLogSetIgnored, name, value, failure_reason(err));
        }
    }
    if (!found)
        glue::log(logger(), "warning", kLogNoCandidate, key,
                  py::list(py::reinterpret_borrow<py::object>(candidates)));
}

// Manual control for a continuous-valued setting: its automatic mode off,
// and for the frame rate the enable node under whichever name it has.
void apply_manual_mode(py::object self, py::handle key) {
    py::object auto_node = self.attr("AUTO_NODES").attr("get")(key);
    if (!auto_node.is_none())
        try_set_node(self, glue::str(auto_node).c_str(), py::str("Off"), true);
    if (glue::str(key) != kFrameRateKey) return;
    for (py::handle name : self.attr("FRAME_RATE_ENABLE_NODES")) {
        if (self.attr("_find_node")(name).is_none()) continue;
        try_set_node(self, glue::str(name).c_str(), py::bool_(true), false);
        return;
    }
}

}  // namespace

py::object find_node(py::object self, const std::string &name) {
    py::object ia = self.attr("_ia");
    if (ia.is_none()) camera_error(kCallOpenFirst);
    // GenApi reads a name up to a NUL, so "Width\0x" would address Width:
    // a name with a control character names no node.
    if (text::first_control(name) >= 0) return py::none();
    py::object node_map = ia.attr("remote_device").attr("node_map");
    // genapi reports an unknown name as a logical error.
    return glue::try_except([&] { return node_map.attr("get_node")(name); },
                            [](const py::error_already_set &) { return py::none(); });
}

void set_node(py::object self, const std::string &name, py::object value) {
    py::object node = self.attr("_find_node")(name);
    if (node.is_none()) camera_error(kNodeNotFound + name);
    const std::string shown = kSetFailed + name + "=" + glue::str(value) + ": ";
    py::object mode;
    if (!is_writable(node, mode))
        camera_error(shown + "not writable (access mode " + access_mode_name(mode) + ")");
    glue::try_except([&] { write_value(node, value); },
                     [&](const py::error_already_set &err) {
                         camera_error(shown + glue::str(err.value()), err);
                     });
    glue::log(logger(), "debug", "node %s=%s", name, value);
}

py::object read_node(py::object self, const std::string &name) {
    if (self.attr("_ia").is_none()) return py::none();
    py::object node = self.attr("_find_node")(name);
    if (node.is_none()) return py::none();
    return glue::try_except([&] { return py::object(node.attr("value")); },
                            [](const py::error_already_set &) { return py::none(); });
}

std::string node_pixel_format(py::object self) {
    py::object value = self.attr("_read_node")("PixelFormat");
    return value.is_none() ? std::string() : glue::str(value);
}

void execute_node(py::object self, const std::string &name) {
    py::object node = self.attr("_find_node")(name);
    if (node.is_none()) camera_error(kNoCommand + name);
    glue::try_except([&] { node.attr("execute")(); },
                     [&](const py::error_already_set &err) {
                         camera_error(kCommandFailed + name + ": " + glue::str(err.value()), err);
                     });
}

bool try_set_node(py::object self, const char *name, py::object value, bool optional) {
    if (optional && self.attr("_find_node")(name).is_none()) {
        glue::log(logger(), "debug", "optional node %s is not present", name);
        return false;
    }
    try {
        self.attr("_set_node")(name, value);
        return true;
    } catch (py::error_already_set &err) {
        if (!is_camera_error(err)) throw;
        glue::log(logger(), "warning", kLogSetIgnored, name, value, failure_reason(err));
        return false;
    }
}

void apply_features(py::object self) {
    py::object params = self.attr("params");
    for (auto item : py::dict(self.attr("IMAGE_FORMAT_NODES"))) {
        py::object value = params.attr("get")(item.first);
        if (!value.is_none()) apply_setting(self, item.first, value, item.second);
    }
    for (auto item : py::dict(self.attr("CONTINUOUS_CONVENIENCE_NODES"))) {
        py::object value = params.attr("get")(item.first);
        if (value.is_none()) continue;
        apply_manual_mode(self, item.first);
        apply_setting(self, item.first, value, item.second);
    }
    py::object features = params.attr("get")("features");
    if (features.is_none() || !truthy(features)) return;
    for (py::handle item : features.attr("items")()) {
        py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
        self.attr("_set_node")(py::str(pair[0]), pair[1]);
    }
}

}  // namespace vantix::camera
