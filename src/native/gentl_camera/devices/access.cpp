// _open_acquirer: the acquirer with the strongest access right that the
// device grants, tried down the ladder of _PRIVILEGES.
#include <optional>
#include <string>

#include "../camera.hpp"

namespace vantix::camera {
namespace {

constexpr const char *kAllRefusedHead = "카메라를 열 수 없습니다(권한 ";
constexpr const char *kAllRefusedMiddle = " 모두 거부): ";
constexpr const char *kAllRefusedTail =
    " — 벤더 뷰어나 다른 프로그램이 카메라를 잡고 있는지 확인하세요.";

// Keeps the process's SIGINT handler across a call that may replace it:
// creating an acquirer on the main thread installs a handler that only
// destroys the acquirer, so Ctrl+C would no longer interrupt the program.
class SigintKeeper {
public:
    SigintKeeper() : signal_(py::module_::import("signal")) {
        py::object threading = glue::global("threading");
        if (threading.attr("current_thread")().is(threading.attr("main_thread")()))
            saved_ = signal_.attr("getsignal")(signal_.attr("SIGINT"));
    }
    void restore() {
        if (saved_.is_none()) return;
        py::object sigint = signal_.attr("SIGINT");
        if (!signal_.attr("getsignal")(sigint).is(saved_)) signal_.attr("signal")(sigint, saved_);
    }

private:
    py::object signal_;
    py::object saved_ = py::none();
};

py::object create_acquirer(py::object h, const py::int_ &index, py::object config) {
    SigintKeeper sigint;
    try {
        py::object ia = with_context(glue::global("_tolerate_unsupported_module_events")(), [&] {
            return h.attr("create")(index, py::arg("config") = config);
        });
        sigint.restore();
        return ia;
    } catch (py::error_already_set &) {
        sigint.restore();
        throw;
    }
}

}  // namespace

bool is_access_refusal(const py::error_already_set &err) {
    const std::string type_name = py::str(py::type::handle_of(err.value()).attr("__name__"));
    return type_name.find("AccessDenied") != std::string::npos ||
           glue::str(err.value()).find("not allowed") != std::string::npos;
}

py::tuple open_acquirer(py::object h, py::object index) {
    py::module_ core = py::module_::import("harvesters.core");
    py::object parameter_key = core.attr("ParameterKey");
    py::object parameter_set = core.attr("ParameterSet");
    // Harvester.create takes a position only as an exact int.
    const py::int_ position(py::module_::import("operator").attr("index")(index));

    py::object privileges = glue::global("_PRIVILEGES");
    std::optional<py::error_already_set> last;
    for (py::handle privilege : privileges) {
        py::dict settings;
        settings[parameter_key.attr("DEVICE_OWNERSHIP_PRIVILEGE")] = privilege;
        try {
            py::object ia = create_acquirer(h, position, parameter_set(settings));
            return py::make_tuple(ia, privilege);
        } catch (py::error_already_set &err) {
            if (!glue::is_exception(err) || !is_access_refusal(err)) throw;
            glue::log(logger(), "debug", "access '%s' refused: %s", privilege, err.value());
            last = err;
        }
    }
    const std::string message =
        kAllRefusedHead + glue::str(py::list(privileges)) + kAllRefusedMiddle +
        (last ? glue::str(last->value()) : std::string("None")) + kAllRefusedTail;
    if (last) camera_error(message, *last);
    camera_error(message);
}

}  // namespace vantix::camera
