// Construction, the configuration properties, and the connection to the
// PLC: open, client creation, connect, reconnect and close.
#include <string>

#include "../common/context.hpp"
#include "sink.hpp"

namespace vantix::plc {

namespace {
constexpr double kMaxTimeoutSeconds = 9.2e9;
}  // namespace

void init(py::object self, py::object params) {
    py::object super = py::reinterpret_borrow<py::object>((PyObject *)&PySuper_Type);
    super(sink_class, self).attr("__init__")(params);
    self.attr("_client") = py::none();
    self.attr("_connected") = false;
    self.attr("_pymodbus_ok") = true;
    self.attr("_seq") = 0;
}

py::object host(py::object self) {
    return glue::to_str(param(self, py::str("host"), py::str("127.0.0.1")));
}

py::object port(py::object self) {
    return glue::to_int(param(self, py::str("port"), py::int_(502)));
}

py::object unit_id(py::object self) {
    return glue::to_int(param(self, py::str("unit_id"), py::int_(1)));
}

void open_link(py::object self) {
    // A re-open replaces the client: close the one held so its socket is not
    // left behind.
    py::object old = self.attr("_client");
    if (!old.is_none()) {
        close_quietly(old);
        self.attr("_client") = py::none();
        self.attr("_connected") = false;
    }
    note_block_layout(self);
    if (truthy(param(self, py::str("simulate"), py::bool_(false)))) {
        glue::log(logger(), "info", kLogSimulateAsked);
        self.attr("_pymodbus_ok") = false;
        self.attr("_connected") = false;
        return;
    }
    if (!pymodbus_installed()) {
        glue::log(logger(), "warning", kLogNoPymodbus);
        self.attr("_pymodbus_ok") = false;
        self.attr("_connected") = false;
        return;
    }
    self.attr("_pymodbus_ok") = true;
    for (const std::string &problem : unsendable_settings(self))
        glue::log(logger(), "warning", kLogOutOfRange, problem);
    if (const auto problem = unwritable_heartbeat(self))
        glue::log(logger(), "warning", kLogHeartbeatOutOfRange, *problem);
    self.attr("_client") = self.attr("_make_client")();
    self.attr("_connected") = self.attr("_try_connect")();
    if (truthy(self.attr("_connected"))) return;

    const std::string message = kCannotConnect + endpoint(self);
    if (truthy(param(self, py::str("strict_open"), py::bool_(false))))
        glue::raise(glue::global("SinkError"), message);
    glue::log(logger(), "warning", kLogStartingDisconnected, message);
}

py::object make_client(py::object self) {
    py::object client_class = glue::from_import("pymodbus.client", "ModbusTcpClient");
    py::object host_value = self.attr("host");
    py::object port_value = self.attr("port");
    py::object timeout = glue::to_float(param(self, py::str("timeout_s"), py::float_(1.0)));
    // Zero means non-blocking; NaN, negative values and those beyond the
    // interpreter's clock (signed 64-bit nanoseconds) are refused by the
    // socket: each would end up as a connect that can never succeed.
    const double seconds = timeout.cast<double>();
    if (!(seconds > 0.0 && seconds < kMaxTimeoutSeconds))
        glue::raise(PyExc_ValueError, kBadTimeout + glue::str(py::repr(timeout)));
    // One attempt per request, bounded by the time-out: send() reconnects and
    // retries once itself, and the client's own retries would multiply the
    // wait on a peer that accepts but never answers.
    return client_class(py::arg("host") = host_value, py::arg("port") = port_value,
                        py::arg("timeout") = timeout, py::arg("retries") = 0);
}

py::bool_ try_connect(py::object self) {
    py::object client = self.attr("_client");
    if (client.is_none()) return py::bool_(false);
    return glue::try_except([&] { return py::bool_(truthy(client.attr("connect")())); },
                            [](const py::error_already_set &err) {
                                glue::log(logger(), "debug", kLogConnectException, err.value());
                                return py::bool_(false);
                            });
}

py::object reconnect(py::object self) {
    if (!truthy(self.attr("_pymodbus_ok"))) return py::bool_(false);
    py::object old = self.attr("_client");
    if (!old.is_none()) {
        close_quietly(old);
        self.attr("_client") = py::none();
    }
    self.attr("_client") = self.attr("_make_client")();
    self.attr("_connected") = self.attr("_try_connect")();
    return self.attr("_connected");
}

void close_link(py::object self) {
    py::object client = self.attr("_client");
    if (!client.is_none()) close_quietly(client);
    self.attr("_client") = py::none();
    self.attr("_connected") = false;
}

}  // namespace vantix::plc
