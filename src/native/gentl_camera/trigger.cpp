// Trigger modes: free run, software trigger and hardware trigger, set up on
// the trigger nodes. Node trouble is logged (see nodes.cpp), so a camera
// without some trigger node still opens. A change on an open camera waits
// for the reception in progress (_fetch_lock).
#include <string>

#include "camera.hpp"

namespace vantix::camera {

namespace {

constexpr const char *kLogNoSelector =
    "TriggerSelector 후보 %s 를 모두 적용하지 못했습니다(이 카메라 지원=%s). params.features 로 "
    "직접 지정하세요.";
constexpr const char *kUnsupportedMode = "unsupported trigger mode: ";
constexpr const char *kInsideReception =
    "the trigger mode cannot change from inside a reception of the same camera";
constexpr const char *kSwitchFailed = "failed to switch the trigger mode: ";
constexpr const char *kDefaultLine = "Line0";
constexpr const char *kDefaultActivation = "RisingEdge";

// The host's TriggerMode member for a member, its value or its name, as
// the host reads them; CameraError for anything else.
py::object coerce_mode(py::object mode) { return glue::global("TriggerMode").attr("coerce")(mode); }

py::list supported_selectors(py::handle node) {
    return glue::try_except([&] { return py::list(node.attr("symbolics")); },
                            [](const py::error_already_set &) { return py::list(); });
}

// ia.<step>(), a failure raised as "failed to switch the trigger mode: ...".
void switch_step(py::handle ia, const char *step) {
    glue::try_except([&] { ia.attr(step)(); },
                     [](const py::error_already_set &err) {
                         camera_error(kSwitchFailed + glue::str(err.value()), err);
                     });
}

// Tries the selector candidates in order; for each one the camera takes,
// runs `each` (and stops after the first unless `all`). Returns whether any
// was taken; warns when the camera has a selector but takes none of them.
template <typename F>
bool for_selectors(py::object self, bool all, F &&each) {
    py::object node = self.attr("_find_node")("TriggerSelector");
    if (node.is_none()) return false;  // one implicit trigger: nothing to select
    py::object candidates = self.attr("TRIGGER_SELECTOR_CANDIDATES");
    bool taken = false;
    for (py::handle candidate : candidates) {
        try {
            self.attr("_set_node")("TriggerSelector", candidate);
        } catch (py::error_already_set &err) {
            if (!is_camera_error(err)) throw;
            continue;
        }
        taken = true;
        each();
        if (!all) break;
    }
    if (!taken)
        glue::log(logger(), "warning", kLogNoSelector, py::list(candidates),
                  supported_selectors(node));
    return taken;
}

}  // namespace

void apply_trigger_mode(py::object self, py::object mode) {
    mode = coerce_mode(mode);
    py::object modes = glue::global("TriggerMode");
    if (mode.equal(modes.attr("CONTINUOUS"))) {
        // Free run: no selector may be left waiting for a trigger.
        auto off = [&] { try_set_node(self, "TriggerMode", py::str("Off"), true); };
        if (!for_selectors(self, true, off)) off();
        return;
    }
    for_selectors(self, false, [] {});
    try_set_node(self, "TriggerMode", py::str("On"), false);
    if (mode.equal(modes.attr("SOFTWARE"))) {
        try_set_node(self, "TriggerSource", py::str("Software"), false);
    } else if (mode.equal(modes.attr("HARDWARE"))) {
        py::object params = self.attr("params");
        try_set_node(self, "TriggerSource", params.attr("get")("trigger_line", kDefaultLine),
                     false);
        try_set_node(self, "TriggerActivation",
                     params.attr("get")("trigger_activation", kDefaultActivation), false);
    } else {
        camera_error(kUnsupportedMode + glue::str(py::repr(mode)));
    }
}

void set_trigger_mode(py::object self, py::object mode) {
    mode = coerce_mode(mode);
    // Acquisition stops and restarts around the change, which must not
    // happen under a reception: the one in progress is waited for.
    if (inside_own_reception(self)) camera_error(kInsideReception);
    glue::HeldLock reception_done(self.attr("_fetch_lock"));
    py::object ia = self.attr("_ia");
    if (!truthy(self.attr("_opened")) || ia.is_none()) {
        self.attr("_trigger_mode") = mode;  // applied by open()
        return;
    }
    // Trigger nodes are locked while the device streams.
    switch_step(ia, "stop");
    try {
        self.attr("_apply_trigger_mode")(mode);
    } catch (py::error_already_set &) {
        glue::try_except([&] { ia.attr("start")(); },
                         [](const py::error_already_set &restart) {
                             glue::log_exc(logger(), "warning", restart,
                                           "acquisition restart failed");
                         });
        throw;
    }
    self.attr("_trigger_mode") = mode;
    switch_step(ia, "start");
    glue::log(logger(), "info", "trigger mode: %s", mode);
}

}  // namespace vantix::camera
