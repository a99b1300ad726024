// The connection test: reaches the PLC on a client of its own and reports
// how far it got, in words for the operator. It never raises for network or
// device trouble and leaves the sink's own connection alone.
#include <optional>
#include <string>

#include "../common/context.hpp"
#include "sink.hpp"

namespace vantix::plc {

namespace {

// "host:port" as the report holds them.
std::string reported_endpoint(const py::dict &report) {
    return glue::str(report["host"]) + ":" + glue::str(report["port"]);
}

// Connects the test's client; false when the test ends here.
bool connect_step(const py::object &client, py::dict report) {
    return glue::try_except(
        [&] {
            report["connected"] = py::bool_(truthy(client.attr("connect")()));
            if (truthy(report["connected"])) return true;
            report["message"] = kTestCannotReach + reported_endpoint(report) + kTestCannotReachHint;
            return false;
        },
        [&](const py::error_already_set &err) {
            report["message"] = kTestConnectError + glue::str(err.value());
            return false;
        });
}

// Reads one holding register (the verdict register, or 0 when that is off);
// nothing when the test ends here.
std::optional<py::object> read_step(const py::object &self, const py::object &client,
                                    py::dict report) {
    py::object address = self.attr("_reg")("verdict_register", 100);
    if (address.is_none() || !truthy(address)) address = py::int_(0);
    return glue::try_except(
        [&]() -> std::optional<py::object> {
            return client.attr("read_holding_registers")(address, py::arg("count") = 1,
                                                         **unit_kwargs(self));
        },
        [&](const py::error_already_set &err) -> std::optional<py::object> {
            report["message"] = kTestNoReadHead + reported_endpoint(report) + kTestNoReadTail +
                                glue::str(err.value());
            return std::nullopt;
        });
}

// The test on its own client, from connect on; `report` is filled in place.
void probe(const py::object &self, const py::object &client, py::dict report) {
    if (!connect_step(client, report)) return;
    const std::optional<py::object> response = read_step(self, client, report);
    if (!response) return;
    const std::string unit_text = glue::str(report["unit_id"]);
    if (is_error_response(*response)) {
        report["message"] =
            kTestErrorHead + unit_text + "): " + glue::str(*response) + kTestErrorTail;
        return;
    }
    report["responding"] = true;
    report["ok"] = true;
    // A response without a first register value still passes the test.
    glue::ignoring_exceptions(
        [&] { report["read_value"] = glue::to_int(response->attr("registers")[py::int_(0)]); });
    report["message"] = kTestPassed + reported_endpoint(report) + " (unit " + unit_text + ")";
}

}  // namespace

py::dict test_connection(py::object self) {
    py::dict report;
    report["host"] = self.attr("host");
    report["port"] = self.attr("port");
    report["unit_id"] = self.attr("unit_id");
    report["connected"] = false;
    report["responding"] = false;
    report["ok"] = false;
    report["simulated"] = false;
    report["read_value"] = py::none();
    report["message"] = "";

    if (!pymodbus_installed()) {
        report["simulated"] = true;
        report["message"] = kTestNoPymodbus;
        return report;
    }

    py::object client = self.attr("_make_client")();
    try {
        probe(self, client, report);
    } catch (...) {
        close_quietly(client);
        throw;
    }
    close_quietly(client);
    return report;
}

}  // namespace vantix::plc
